#!/usr/bin/env bash
# A series of generated 4000 x 3000 sheets (24-bit uncompressed TIFF) rectified to LZW TIFF
# with their world files: gridmorph-cli batch (every processor, default jobs and memory)
# against a shell loop of gdalwarp calls on the same control points (first-order, nearest
# neighbour, exact transformer, the same output grid; one sheet at a time), and against
# GNU parallel -j 2 of the same gdalwarp calls (xargs -P 2 when GNU parallel is not installed). Wall time,
# processor time (user + system, of the command and all it started) and peak memory (the largest
# resident size of any one process, from GNU time) of each, and the load average before each run.
# The batch's sheets are checked to be byte for byte the sheet of a single rectify call.
#
#   bench/bench_batch.sh [BUILD_FOLDER] [WORK_FOLDER] [SHEETS]   (SHEETS: default 200)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="${2:-/tmp/bench-batch}"
sheets="${3:-200}"
cli="$build/src/cli/gridmorph-cli"
command -v gdalwarp >/dev/null || { echo "gdalwarp (Debian's gdal-bin) is needed" >&2; exit 1; }
command -v convert >/dev/null || { echo "convert (Debian's imagemagick) is needed" >&2; exit 1; }
mkdir -p "$work/sheets" "$work/ours" "$work/gdal"

# One generated sheet, copied under every name (the work per sheet is the same).
[ -f "$work/sheet.tif" ] || convert -size 4000x3000 plasma:fractal -seed 7 -type TrueColor -depth 8 \
  -compress none "$work/sheet.tif"
x1=66; y1=66; x2=3933; y2=133; x3=3913; y3=2933
p1="$x1,$y1,500000,6100000"; p2="$x2,$y2"; p3="$x3,$y3,511600,6091150"
table="$work/table.csv"
echo "scan,output,p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n,compress" > "$table"
for i in $(seq -w 1 "$sheets"); do
  [ -f "$work/sheets/s$i.tif" ] || cp "$work/sheet.tif" "$work/sheets/s$i.tif"
  echo "sheets/s$i.tif,ours/s$i.tif,${p1//,/,},$p2,${p3//,/,},lzw" >> "$table"
done
# GDAL puts the centre of the top-left pixel at 0.5, 0.5; the output grid is ours.
gdal_translate -q -of VRT -gcp "$x1.5" "$y1.5" 500000 6100000 -gcp "$x2.5" "$y2.5" 511600 6100000 \
  -gcp "$x3.5" "$y3.5" 511600 6091150 "$work/sheet.tif" "$work/sheet.vrt"
"$cli" rectify "$work/sheet.tif" "$work/grid.tif" --p1 "$p1" --p2 "$p2" --p3 "$p3" >/dev/null
read -r width height < <("$cli" info "$work/grid.tif" | awk '/^width/{w=$2} /^height/{h=$2} END{print w, h}')
read -r west north east south < <("$cli" world "$work/grid.tif" | awk '/^outside_west/{w=$2} /^outside_north/{n=$2} /^outside_east/{e=$2} /^outside_south/{s=$2} END{print w, n, e, s}')
for i in $(seq -w 1 "$sheets"); do
  sed "s|sheet.tif|s$i.tif|" "$work/sheet.vrt" > "$work/sheets/s$i.vrt"  # relative to the .vrt
done
warp() {  # one sheet with gdalwarp
  env GDAL_NUM_THREADS=1 gdalwarp -q -overwrite -order 1 -r near -et 0 -te "$west" "$south" "$east" "$north" \
    -ts "$width" "$height" -co COMPRESS=LZW -co TFW=YES "$work/sheets/$1.vrt" "$work/gdal/$1.tif"
}
export -f warp; export work west south east north width height

measure() {  # label, command...: wall seconds, processor seconds, peak MB, load before
  local label=$1; shift
  rm -f "$work"/ours/* "$work"/gdal/*
  sync
  local load; load=$(cut -d' ' -f1 /proc/loadavg)
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >/dev/null
  read -r seconds user system kb < "$work/time.txt"
  printf "%-28s %8s s wall %8.2f s user+sys %6d MB peak   (load %s)\n" "$label" "$seconds" \
    "$(awk -v u="$user" -v s="$system" 'BEGIN{print u + s}')" $((kb / 1024)) "$load"
}
echo "$sheets sheets of 4000 x 3000, 24-bit, to LZW TIFF ($(nproc) processors)"
measure "gridmorph-cli batch" "$cli" batch "$table" --force
cmp "$work/grid.tif" "$work/ours/s$(printf "%0${#sheets}d" 1).tif" \
  || { echo "the batch's first sheet differs from rectify's" >&2; exit 1; }
measure "gdalwarp loop" bash -c 'for f in "$work"/sheets/*.vrt; do warp "$(basename "$f" .vrt)"; done'
if command -v parallel >/dev/null; then
  measure "gdalwarp, GNU parallel -j 2" bash -c 'ls "$work"/sheets/*.vrt | xargs -n1 basename | sed "s/.vrt$//" | parallel -j 2 warp'
else
  echo "GNU parallel is not installed: xargs -P 2 runs the same two-at-a-time loop"
  measure "gdalwarp, xargs -P 2" bash -c 'ls "$work"/sheets/*.vrt | xargs -n1 basename | sed "s/.vrt$//" | xargs -P 2 -I{} bash -c "warp {}"'
fi
