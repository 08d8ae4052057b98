#!/usr/bin/env bash
# Builds the core and its tests once more with AddressSanitizer (with LeakSanitizer) and
# UndefinedBehaviorSanitizer, and runs the suite under them.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
build="$GRIDMORPH_ROOT/build-sanitize"
cmake -S "$GRIDMORPH_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DGRIDMORPH_BUILD_BENCH=OFF \
  -DGRIDMORPH_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j "$(nproc)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
