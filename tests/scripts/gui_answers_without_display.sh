#!/usr/bin/env bash
# gridmorph --version and --help answer on the terminal and exit, with no display and no
# Qt platform chosen: they never start the window system.
set -euo pipefail
program="$1"
version="$2"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# The start that must fail aborts in Qt: no core file for it.
ulimit -c 0
failures=0
check() {  # description, then the test command
  local what="$1"
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}
run() {  # runs the program with the arguments given, its output in $scratch/out and err
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" \
    XDG_RUNTIME_DIR="$scratch" timeout 60 "$program" "$@" >"$scratch/out" 2>"$scratch/err"
}

if run --version; then status=0; else status=$?; fi
check "--version exits with 0" [ "$status" -eq 0 ]
check "--version prints the name and the project's version" [ "$(cat "$scratch/out")" = "gridmorph $version" ]
check "--version writes no error" [ ! -s "$scratch/err" ]

for help in --help -h; do
  if run "$help"; then status=0; else status=$?; fi
  check "$help exits with 0" [ "$status" -eq 0 ]
  check "$help prints the usage" grep -q "^Usage: gridmorph \[--open FILE\]" "$scratch/out"
  check "$help names --open" grep -q -- "--open FILE" "$scratch/out"
  check "$help writes no error" [ ! -s "$scratch/err" ]
done

# A file that --open names is a file, even one called --version: the window starts and,
# with no display, cannot.
if run --open --version; then status=0; else status=$?; fi
check "the file after --open is not taken for an option" [ "$status" -ne 0 ]
check "so nothing is printed on the terminal" [ ! -s "$scratch/out" ]

[ "$failures" -eq 0 ]
