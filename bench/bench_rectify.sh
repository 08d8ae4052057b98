#!/usr/bin/env bash
# End to end, side by side in one run: rectify a 24-bit uncompressed TIFF scan of
# 12000 x 9000 and of 4000 x 3000 (file in, file and world file out) with gridmorph-cli
# and with gdalwarp on the same three control points (first-order, nearest neighbour,
# exact transformer, one thread), writing uncompressed and LZW TIFF on both sides. The
# two tools run alternately, three rounds; the best clock time of each is kept, with its
# processor time (user + system) and the highest peak memory of all rounds. Outputs of
# the previous round are removed before each timed run. The memory
# budget is the source picture plus the output picture plus 5 %. Then how many output
# pixels the two tools agree on.
#
#   bench/bench_rectify.sh [BUILD_FOLDER] [WORK_FOLDER] [blended]
#
# With "blended" only the second table (bilinear and cubic) is made.
# GRIDMORPH_THREADS=1 in the environment runs our side on one thread.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
. "$root/bench/side_by_side.sh"  # build, work, cli, rounds from the arguments
command -v gdalwarp >/dev/null || { echo "gdalwarp (Debian's gdal-bin) is needed" >&2; exit 1; }


only=${3:-all}
printf "%-11s %-5s %8s %8s %8s %8s %7s %7s %8s %8s %9s\n" size comp "ours s" "gdal s" "ours cpu" "gdal cpu" speedup "cpu x" "ours MB" "gdal MB" "budget MB"
for size in 12000x9000 4000x3000; do
  width_in=${size%x*}; height_in=${size#*x}
  "$build/bench/bench_resample" "$root/data/sample/sample-map.jpg" --make-source "$work/source-$size.tif" "$size"
  # Locators: pixel x, y (centre of the top-left pixel is 0, 0) and easting, northing; the
  # same corners of the map grid on both sizes (about 1 degree of turn).
  read -r x1 y1 x2 y2 x3 y3 < <(awk -v w="$width_in" -v h="$height_in" 'BEGIN {
    printf "%d %d %d %d %d %d\n", 200 * w / 12000, 200 * h / 9000, 11800 * w / 12000, 400 * h / 9000, 11740 * w / 12000, 8800 * h / 9000 }')
  p1="$x1,$y1,500000,6100000"; p2="$x2,$y2"; p3="$x3,$y3,511600,6091150"
  # GDAL puts the centre of the top-left pixel at 0.5, 0.5.
  gdal_translate -q -of VRT -gcp "$x1.5" "$y1.5" 500000 6100000 -gcp "$x2.5" "$y2.5" 511600 6100000 \
    -gcp "$x3.5" "$y3.5" 511600 6091150 "$work/source-$size.tif" "$work/source-$size.vrt"
  [ "$only" = blended ] && continue
  for compression in none lzw; do
    ours_cmd=("$cli" rectify "$work/source-$size.tif" "$work/ours-$size-$compression.tif" --p1 "$p1" --p2 "$p2" --p3 "$p3" --compress $compression)
    "${ours_cmd[@]}" >/dev/null  # the output grid for gdalwarp, and a warm page cache for both
    read -r width height < <("$cli" info "$work/ours-$size-$compression.tif" | awk '/^width/{w=$2} /^height/{h=$2} END{print w, h}')
    read -r west north east south < <("$cli" world "$work/ours-$size-$compression.tif" | awk '/^outside_west/{w=$2} /^outside_north/{n=$2} /^outside_east/{e=$2} /^outside_south/{s=$2} END{print w, n, e, s}')
    gdal_compress=$([ $compression = lzw ] && echo LZW || echo NONE)
    gdal_cmd=(env GDAL_NUM_THREADS=1 gdalwarp -q -overwrite -order 1 -r near -et 0 -wo NUM_THREADS=1
      -te "$west" "$south" "$east" "$north" -ts "$width" "$height" -co COMPRESS=$gdal_compress
      "$work/source-$size.vrt" "$work/gdal-$size-$compression.tif")
    outputs=("$work/ours-$size-$compression.tif" "$work/gdal-$size-$compression.tif")
    run_side_by_side
    # Both pictures as the program holds them: rows of whole 4-byte words.
    budget=$(awk -v w="$width_in" -v h="$height_in" -v ow="$width" -v oh="$height" 'BEGIN {
      printf "%.0f", 1.05 * (int((w * 3 + 3) / 4) * 4 * h + int((ow * 3 + 3) / 4) * 4 * oh) / 1048576 }')
    print_side_by_side "$size" $compression "$budget"
  done
done
# Blended resampling: bilinear and cubic on the 12000 x 9000 scan (uncompressed output)
# beside gdalwarp -r bilinear / -r cubic, on one thread and on two (-multi, two warp
# threads), then how many interior pixels agree within one grey level.
echo "blended resampling, 12000x9000, uncompressed (gdal: one thread; gdal/2t: -multi -wo NUM_THREADS=2)"
size=12000x9000
for resampling in bilinear cubic; do
  read -r x1 y1 x2 y2 x3 y3 <<<"200 200 11800 400 11740 8800"
  ours_cmd=("$cli" rectify "$work/source-$size.tif" "$work/ours-$size-$resampling.tif" --p1 "$x1,$y1,500000,6100000"
    --p2 "$x2,$y2" --p3 "$x3,$y3,511600,6091150" --compress none --resample $resampling)
  "${ours_cmd[@]}" >/dev/null
  read -r width height < <("$cli" info "$work/ours-$size-$resampling.tif" | awk '/^width/{w=$2} /^height/{h=$2} END{print w, h}')
  read -r west north east south < <("$cli" world "$work/ours-$size-$resampling.tif" | awk '/^outside_west/{w=$2} /^outside_north/{n=$2} /^outside_east/{e=$2} /^outside_south/{s=$2} END{print w, n, e, s}')
  for gdal_threads in 1 2; do
    gdal_cmd=(env GDAL_NUM_THREADS=$gdal_threads gdalwarp -q -overwrite -order 1 -r $resampling -et 0 -wo NUM_THREADS=$gdal_threads
      -te "$west" "$south" "$east" "$north" -ts "$width" "$height" -co COMPRESS=NONE)
    [ $gdal_threads = 2 ] && gdal_cmd+=(-multi)
    gdal_cmd+=("$work/source-$size.vrt" "$work/gdal-$size-$resampling.tif")
    outputs=("$work/ours-$size-$resampling.tif" "$work/gdal-$size-$resampling.tif")
    run_side_by_side
    label=$resampling; [ $gdal_threads = 2 ] && label=$resampling/2t
    print_side_by_side "$size" "$label"
  done
done
echo "speedup: gdalwarp's best clock time over ours; cpu x: the same for processor time (user + system)"
for resampling in bilinear cubic; do
  /usr/bin/python3 - "$work/ours-12000x9000-$resampling.tif" "$work/gdal-12000x9000-$resampling.tif" "$resampling" <<'PY' 2>/dev/null || true
import sys
from osgeo import gdal
import numpy as np
a = gdal.Open(sys.argv[1]).ReadAsArray().astype(np.int16); b = gdal.Open(sys.argv[2]).ReadAsArray().astype(np.int16)
valid = np.all(a > 0, axis=0) & np.all(b > 0, axis=0)  # away from the black outside (the scan has no black)
close = np.all(np.abs(a - b) <= 1, axis=0)
print("%s: pixels within one grey level of gdalwarp's (both non-black): %.4f %%" % (sys.argv[3], 100.0 * close[valid].mean()))
PY
done
for size in 12000x9000 4000x3000; do
  /usr/bin/python3 - "$work/ours-$size-none.tif" "$work/gdal-$size-none.tif" "$size" <<'PY' 2>/dev/null || echo "(python3-gdal not available for the pixel comparison)"
import sys
from osgeo import gdal
import numpy as np
a = gdal.Open(sys.argv[1]).ReadAsArray(); b = gdal.Open(sys.argv[2]).ReadAsArray()
same = np.all(a == b, axis=0)
print("%s: pixels equal in both outputs: %.4f %%" % (sys.argv[3], 100.0 * same.mean()))
PY
done
