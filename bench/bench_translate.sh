#!/usr/bin/env bash
# `convert` and `crop` of the 12000 x 9000 24-bit uncompressed TIFF scan beside
# gdal_translate doing the same work, side by side in one run: the tools alternately,
# three rounds, the best clock time of each with its processor time (user + system) and
# the highest peak memory. Uncompressed and LZW TIFF output.
#
#   bench/bench_translate.sh [BUILD_FOLDER] [WORK_FOLDER]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/bench/side_by_side.sh"  # build, work, cli, rounds from the arguments
command -v gdal_translate >/dev/null || { echo "gdal_translate (Debian's gdal-bin) is needed" >&2; exit 1; }

source="$work/translate-source.tif"
[ -f "$source" ] || "$build/bench/bench_resample" "$root/data/sample/sample-map.jpg" --make-source "$source" 12000x9000
# The crop: the middle 6000 x 4500 pixels.
rect="3000,2250,6000,4500"

printf "%-11s %-5s %8s %8s %8s %8s %7s %7s %8s %8s\n" work comp "ours s" "gdal s" "ours cpu" "gdal cpu" speedup "cpu x" "ours MB" "gdal MB"
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
    outputs=("$work/ours-$work_kind-$compression.tif" "$work/gdal-$work_kind-$compression.tif")
    run_side_by_side
    print_side_by_side $work_kind $compression
  done
done
echo "speedup: gdal_translate's best clock time over ours; cpu x: the same for processor time (user + system)"
