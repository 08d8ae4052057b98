#!/usr/bin/env bash
# Line coverage of the core reached by the fuzz corpora: builds the targets with clang's
# source-based coverage (no sanitizers), replays each corpus once, and reports per file.
#
#   fuzz/coverage.sh CORPUS_ROOT     (a folder with one subfolder per target: bmp, png, ...)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
corpus="$1"
build="$root/build-fuzz-coverage"
flags="-fprofile-instr-generate -fcoverage-mapping"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRIDMORPH_BUILD_TESTS=OFF \
  -DGRIDMORPH_BUILD_BENCH=OFF -DGRIDMORPH_FUZZ_COVERAGE=ON -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
rm -f "$build"/*.profraw
objects=()
for target in bmp png jpg tif gif worldfile release3 points geotiff; do
  [ -d "$corpus/$target" ] || continue
  LLVM_PROFILE_FILE="$build/$target.profraw" "$build/fuzz/fuzz_$target" -runs=0 "$corpus/$target" >/dev/null 2>&1 || true
  objects+=(-object "$build/fuzz/fuzz_$target")
done
llvm-profdata merge -sparse "$build"/*.profraw -o "$build/all.profdata"
llvm-cov report -instr-profile="$build/all.profdata" "${objects[@]:1}" -ignore-filename-regex='(usr|fuzz)/' \
  "$root/src/core" | tail -n 40
