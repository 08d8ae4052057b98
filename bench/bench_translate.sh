#!/usr/bin/env bash
# `convert` and `crop` of the 12000 x 9000 24-bit uncompressed TIFF scan beside
# gdal_translate doing the same work, side by side in one run: the tools alternately,
# three rounds, the best clock time of each with its processor time (user + system) and
# the highest peak memory. Uncompressed and LZW TIFF output.
#
#   bench/bench_translate.sh [BUILD_FOLDER] [WORK_FOLDER]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
work="${2:-$(mktemp -d)}"
mkdir -p "$work"
cli="$build/src/cli/gridmorph-cli"
rounds=3
command -v gdal_translate >/dev/null || { echo "gdal_translate (Debian's gdal-bin) is needed" >&2; exit 1; }

measure() {  # prints "seconds processor_seconds peak_megabytes"
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || { cat "$work/stderr.txt" >&2; exit 1; }
  awk '{printf "%.2f %.2f %.0f\n", $1, $2 + $3, $4 / 1024}' "$work/time.txt"
}

source="$work/translate-source.tif"
[ -f "$source" ] || "$build/bench/bench_resample" "$root/data/sample/sample-map.jpg" --make-source "$source" 12000x9000
# The crop: the middle 6000 x 4500 pixels.
rect="3000,2250,6000,4500"

printf "%-8s %-5s %8s %8s %8s %8s %7s %7s %8s %8s\n" work comp "ours s" "gdal s" "ours cpu" "gdal cpu" speedup "cpu x" "ours MB" "gdal MB"
for work_kind in convert crop; do
  for compression in none lzw; do
    gdal_compress=$([ $compression = lzw ] && echo "-co COMPRESS=LZW -co PREDICTOR=2" || echo "-co COMPRESS=NONE")
    if [ $work_kind = convert ]; then
      ours_cmd=("$cli" convert "$source" "$work/ours-$work_kind-$compression.tif" --compress $compression)
      gdal_cmd=(env GDAL_NUM_THREADS=1 gdal_translate -q $gdal_compress "$source" "$work/gdal-$work_kind-$compression.tif")
    else
      ours_cmd=("$cli" crop "$source" "$work/ours-$work_kind-$compression.tif" --rect "$rect" --compress $compression)
      gdal_cmd=(env GDAL_NUM_THREADS=1 gdal_translate -q -srcwin ${rect//,/ } $gdal_compress "$source"
        "$work/gdal-$work_kind-$compression.tif")
    fi
    "${ours_cmd[@]}" >/dev/null 2>&1  # warm the page cache
    best_ours=(1e9 0 0); best_gdal=(1e9 0 0); peak_ours=0; peak_gdal=0
    for round in $(seq $rounds); do
      # Removing the last round's outputs is file-system work, left out of both timings.
      rm -f "$work/ours-$work_kind-$compression.tif" "$work/gdal-$work_kind-$compression.tif"
      sync; read -r s c m < <(measure "${ours_cmd[@]}")
      (( m > peak_ours )) && peak_ours=$m
      awk -v a="$s" -v b="${best_ours[0]}" 'BEGIN{exit !(a < b)}' && best_ours=("$s" "$c" "$m")
      sync; read -r s c m < <(measure "${gdal_cmd[@]}")
      (( m > peak_gdal )) && peak_gdal=$m
      awk -v a="$s" -v b="${best_gdal[0]}" 'BEGIN{exit !(a < b)}' && best_gdal=("$s" "$c" "$m")
    done
    printf "%-8s %-5s %8s %8s %8s %8s %7.2f %7.2f %8s %8s\n" $work_kind $compression "${best_ours[0]}" "${best_gdal[0]}" \
      "${best_ours[1]}" "${best_gdal[1]}" "$(echo "${best_gdal[0]} / ${best_ours[0]}" | bc -l)" \
      "$(echo "${best_gdal[1]} / ${best_ours[1]}" | bc -l)" "$peak_ours" "$peak_gdal"
  done
done
echo "speedup: gdal_translate's best clock time over ours; cpu x: the same for processor time (user + system)"
