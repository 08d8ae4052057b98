# Sourced by bench_rectify.sh and bench_translate.sh: whole processes timed side by side.
# Takes the build folder and the work folder from the caller's arguments (defaults: the
# checkout's build folder and a new temporary folder).
build="${1:-$root/build}"
work="${2:-$(mktemp -d)}"
mkdir -p "$work"
cli="$build/src/cli/gridmorph-cli"
rounds=3

# Runs a command; prints "seconds processor_seconds peak_megabytes" (processor time is
# user + system).
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || { cat "$work/stderr.txt" >&2; exit 1; }
  awk '{printf "%.2f %.2f %.0f\n", $1, $2 + $3, $4 / 1024}' "$work/time.txt"
}

# Runs the arrays ours_cmd and gdal_cmd alternately, $rounds rounds, removing the files
# of the array outputs before each round (removing the last round's outputs is file-system
# work, left out of both timings). Sets best_ours and best_gdal to the (seconds,
# processor seconds) of the fastest run of each, and peak_ours and peak_gdal to the
# highest peak memory in MB of all runs.
run_side_by_side() {
  best_ours=(1e9 0); best_gdal=(1e9 0); peak_ours=0; peak_gdal=0
  local round s c m
  for round in $(seq "$rounds"); do
    rm -f "${outputs[@]}"
    sync; read -r s c m < <(measure "${ours_cmd[@]}")
    (( m > peak_ours )) && peak_ours=$m
    awk -v a="$s" -v b="${best_ours[0]}" 'BEGIN{exit !(a < b)}' && best_ours=("$s" "$c")
    sync; read -r s c m < <(measure "${gdal_cmd[@]}")
    (( m > peak_gdal )) && peak_gdal=$m
    awk -v a="$s" -v b="${best_gdal[0]}" 'BEGIN{exit !(a < b)}' && best_gdal=("$s" "$c")
  done
  return 0
}

# Prints the two labels, the best seconds and processor seconds of both sides, the
# ratios (gdal over ours) of both, and the peaks; then any further columns given.
print_side_by_side() {
  local label1=$1 label2=$2; shift 2
  printf "%-11s %-5s %8s %8s %8s %8s %7.2f %7.2f %8s %8s" "$label1" "$label2" "${best_ours[0]}" "${best_gdal[0]}" \
    "${best_ours[1]}" "${best_gdal[1]}" "$(echo "${best_gdal[0]} / ${best_ours[0]}" | bc -l)" \
    "$(echo "${best_gdal[1]} / ${best_ours[1]}" | bc -l)" "$peak_ours" "$peak_gdal"
  [ $# -gt 0 ] && printf " %9s" "$@"
  printf "\n"
}
