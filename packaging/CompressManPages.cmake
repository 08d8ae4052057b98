# Run by CPack on the staged files before it packs them: manual pages are installed as
# plain troff, and Debian keeps them compressed at the highest level without a time stamp.
file(GLOB_RECURSE aPages LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/*")
foreach(strPage IN LISTS aPages)
  if(strPage MATCHES "\\.gz$" OR IS_SYMLINK "${strPage}")
    continue()
  endif()
  execute_process(COMMAND gzip -9nf "${strPage}" RESULT_VARIABLE nStatus)
  if(NOT nStatus EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${strPage}")
  endif()
  message(STATUS "Compressed ${strPage}.gz")
endforeach()
