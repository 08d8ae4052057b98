#!/usr/bin/env bash
# The package depends on what the programs load by name at run time, which dpkg-shlibdeps
# cannot read from them: Tesseract's English data for the grid labels (tesseract-ocr-eng).
# The list is the one CPack gives the package, read from the build folder's CPack settings.
set -euo pipefail
build="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cat >"$scratch/print.cmake" <<'CMAKE'
include(${CONFIG})
message(STATUS "depends=${CPACK_DEBIAN_PACKAGE_DEPENDS}")
message(STATUS "shlibdeps=${CPACK_DEBIAN_PACKAGE_SHLIBDEPS}")
CMAKE
cmake -DCONFIG="$build/CPackConfig.cmake" -P "$scratch/print.cmake" >"$scratch/out"
depends="$(sed -n 's/^-- depends=//p' "$scratch/out")"
echo "Depends given to CPack: $depends"
failures=0
check() {  # description, then the test command
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}
names=" $(tr ',|' '  ' <<<"$depends" | sed -E 's/\([^)]*\)//g' | tr -s ' ') "
check "the package depends on tesseract-ocr-eng" grep -q " tesseract-ocr-eng " <<<"$names"
check "the libraries are still read by dpkg-shlibdeps" grep -qx -- "-- shlibdeps=ON" "$scratch/out"
[ "$failures" -eq 0 ]
