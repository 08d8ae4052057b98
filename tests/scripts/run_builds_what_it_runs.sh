#!/usr/bin/env bash
# ./run builds only the programs its job runs (gridmorph-cli, and the desktop program when
# there is a display to open it on), not the tests and benchmarks; ./test builds
# everything. Both keep the one build folder configured alike, so either may follow the
# other. Stand-ins for cmake, ctest, dpkg-query and the programs record what is asked.
set -euo pipefail
root="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failures=0
check() {  # description, then the test command
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}

mkdir -p "$scratch/bin" "$scratch/build/src/cli" "$scratch/build/src/gui"
# Every package is installed.
printf '#!/bin/sh\necho "install ok installed"\n' >"$scratch/bin/dpkg-query"
# cmake: one line per call, configure and build alike.
printf '#!/bin/sh\necho "$*" >>"$CALLS"\n' >"$scratch/bin/cmake"
printf '#!/bin/sh\necho "100%% tests passed, 0 tests failed out of 1"\n' >"$scratch/bin/ctest"
# The programs the job runs: they record their arguments too.
printf '#!/bin/sh\necho "gridmorph-cli $*" >>"$CALLS"\n' >"$scratch/build/src/cli/gridmorph-cli"
printf '#!/bin/sh\necho "gridmorph $*" >>"$CALLS"\n' >"$scratch/build/src/gui/gridmorph"
chmod +x "$scratch/bin/"* "$scratch/build/src/cli/gridmorph-cli" "$scratch/build/src/gui/gridmorph"

run_script() {  # script, then environment settings; the calls go to $scratch/calls
  local script="$1"
  shift
  rm -f "$scratch/calls"
  env -u DISPLAY -u WAYLAND_DISPLAY PATH="$scratch/bin:$PATH" CALLS="$scratch/calls" \
    GRIDMORPH_BUILD="$scratch/build" GRIDMORPH_OUT="$scratch/out" GRIDMORPH_QUICK=1 "$@" \
    "$root/$script" >"$scratch/out.log" 2>&1
}
build_call() { grep -E "^--build " "$scratch/calls" || true; }
configure_call() { grep -E "^-S " "$scratch/calls" || true; }

if run_script run; then status=0; else status=$?; fi
check "./run succeeds with no display" [ "$status" -eq 0 ]
check "./run builds gridmorph-cli" grep -qE -- "--target( [^ ]+)* gridmorph-cli( |\$)" <<<"$(build_call)"
check "./run builds nothing else without a display" [ "$(build_call | grep -o -- '--target .*')" = "--target gridmorph-cli" ]
check "./run rectifies the sample" grep -q "^gridmorph-cli rectify " "$scratch/calls"
check "./run does not start the window" bash -c "! grep -q '^gridmorph ' '$scratch/calls'"
run_configure="$(configure_call)"

if run_script run DISPLAY=:99; then status=0; else status=$?; fi
check "./run succeeds with a display" [ "$status" -eq 0 ]
check "./run builds both programs with a display" \
  [ "$(build_call | grep -o -- '--target .*' | tr ' ' '\n' | grep -v -- --target | sort | tr '\n' ' ')" = "gridmorph gridmorph-cli " ]
check "./run opens the sample in the window" grep -q "^gridmorph --open .*sample-map.jpg" "$scratch/calls"

if run_script test; then status=0; else status=$?; fi
check "./test succeeds" [ "$status" -eq 0 ]
check "./test builds every target" bash -c "[ -n \"\$1\" ] && ! grep -q -- --target <<<\"\$1\"" _ "$(build_call)"
check "./run and ./test configure the build folder alike" [ "$(configure_call)" = "$run_configure" ]

[ "$failures" -eq 0 ]
