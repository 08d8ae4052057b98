#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer
# on) and runs each from its seed corpus.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]    (default: 30 seconds, every target)
# A finding stops with its input in build-fuzz/findings/; copy it into tests/data/fuzz/ as
# a regression file once it is fixed.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
seconds="${1:-30}"
shift || true
build="$GRIDMORPH_ROOT/build-fuzz"
CC=clang CXX=clang++ cmake -S "$GRIDMORPH_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRIDMORPH_FUZZ=ON \
  -DGRIDMORPH_BUILD_TESTS=OFF -DGRIDMORPH_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(bmp png jpg tif gif worldfile release3 points geotiff)
mkdir -p "$build/findings"
for target in "${targets[@]}"; do
  work="$build/corpus-$target"
  mkdir -p "$work"
  cp -n "$GRIDMORPH_ROOT/fuzz/corpus/$target/"* "$work/" 2>/dev/null || true
  dict=()
  [ -f "$GRIDMORPH_ROOT/fuzz/$target.dict" ] && dict=(-dict="$GRIDMORPH_ROOT/fuzz/$target.dict")
  [ "$target" = release3 ] && dict=(-dict="$GRIDMORPH_ROOT/fuzz/bmp.dict")
  echo "== fuzz_$target for ${seconds}s"
  # A file that makes the process take more than 2 GB, or one allocation above 1 GB, is a
  # finding: a decompression bomb must be refused before it costs that.
  "$build/fuzz/fuzz_$target" "${dict[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=1024 \
    -timeout=20 -artifact_prefix="$build/findings/$target-" -print_final_stats=1 "$work" 2>"$build/fuzz-$target.log" ||
    { tail -n 40 "$build/fuzz-$target.log"; echo "fuzz_$target found a problem (input in $build/findings/)"; exit 1; }
  grep -E "^stat::number_of_executed_units|^#[0-9]+ *DONE" "$build/fuzz-$target.log" | tail -n 2
done
