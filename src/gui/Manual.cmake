# The user's manual (docs/manual) with the screenshots it shows (docs/screenshots): built
# into the program as resources under :/manual and :/screenshots, so the help window
# needs no installed file. They are not installed a second time: the screenshots are most
# of the manual's size, and the program already carries them.
set(GRIDMORPH_MANUAL_PAGES
  index.html
  workflow.html
  file-menu.html
  view-menu.html
  action-menu.html
  help-menu.html
  dialogs.html
  world-files.html
  coordinate-systems.html
  locator-files.html
  command-line.html
  troubleshooting.html
  manual.css
)
set(GRIDMORPH_MANUAL_SCREENSHOTS
  main-window.png
  view-locators.png
  transform-dialog.png
  transformed-map.png
  edit-map-location.png
  map-edge-locations.png
  setup-from-world-file.png
  create-world-file.png
  new-map-dialog.png
  multiple-file-dialog.png
  about-box.png
  progress-panel.png
  help-window.png
  fourth-corner.png
  view-fit-whole-sheet.png
  view-magnifier-locator-drag.png
  magnifier-fitted-lines.png
  predicted-grid.png
  predicted-grid-mismatch.png
  view-800-percent-grid-crossing.png
  find-grid-sample.png
  transform-resampling-clip.png
  transform-nodata.png
  action-menu-crop-to-grid.png
  coordinate-system-dialog.png
  save-transformed-coordinate-system.png
  rectify-series-dialog.png
  rectify-series-progress.png
  rectify-series-report.png
)
set(GRIDMORPH_DOCS_DIR ${PROJECT_SOURCE_DIR}/docs)
# A resource file of our own, compiled into the library's sources; the help code calls
# Q_INIT_RESOURCE(gridmorph_manual) so the linker keeps it in every program.
set(_gridmorph_qrc "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/\">\n")
foreach(_file IN LISTS GRIDMORPH_MANUAL_PAGES)
  string(APPEND _gridmorph_qrc "  <file alias=\"manual/${_file}\">${GRIDMORPH_DOCS_DIR}/manual/${_file}</file>\n")
endforeach()
foreach(_file IN LISTS GRIDMORPH_MANUAL_SCREENSHOTS)
  string(APPEND _gridmorph_qrc "  <file alias=\"screenshots/${_file}\">${GRIDMORPH_DOCS_DIR}/screenshots/${_file}</file>\n")
endforeach()
string(APPEND _gridmorph_qrc "</qresource>\n</RCC>\n")
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/gridmorph_manual.qrc CONTENT "${_gridmorph_qrc}" @ONLY)
qt_add_resources(_gridmorph_manual_sources ${CMAKE_CURRENT_BINARY_DIR}/gridmorph_manual.qrc)
target_sources(gridmorph_gui PRIVATE ${_gridmorph_manual_sources})
