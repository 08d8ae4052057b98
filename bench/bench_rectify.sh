#!/usr/bin/env bash
# End to end, side by side in one run: rectify a 12000 x 9000 24-bit uncompressed TIFF
# (file in, file and world file out) with gridmorph-cli and with gdalwarp on the same three
# control points (first-order, nearest neighbour, exact transformer, one thread), with
# uncompressed and with LZW output on both sides. Reports seconds, peak memory and ratios,
# and how many output pixels the two tools agree on.
#
#   bench/bench_rectify.sh [BUILD_FOLDER] [WORK_FOLDER]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
work="${2:-$(mktemp -d)}"
cli="$build/src/cli/gridmorph-cli"
command -v gdalwarp >/dev/null || { echo "gdalwarp (Debian's gdal-bin) is needed" >&2; exit 1; }

"$build/bench/bench_resample" "$root/data/sample/sample-map.jpg" --make-source "$work/source.tif"
# Locators: pixel x, y (centre of the top-left pixel is 0, 0) and easting, northing.
p1="200,200,500000,6100000"; p2="11800,400"; p3="11740,8800,511600,6091150"
# GDAL puts the centre of the top-left pixel at 0.5, 0.5.
gdal_translate -q -of VRT -gcp 200.5 200.5 500000 6100000 -gcp 11800.5 400.5 511600 6100000 \
  -gcp 11740.5 8800.5 511600 6091150 "$work/source.tif" "$work/source.vrt"

measure() {  # prints "seconds peak_megabytes"
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || { cat "$work/stderr.txt" >&2; exit 1; }
  awk '{printf "%.2f %.0f", $1, $2 / 1024}' "$work/time.txt"
}

printf "%-12s %10s %10s %10s %10s %8s\n" compression "ours s" "gdal s" "ours MB" "gdal MB" speedup
for compression in none lzw; do
  sync; ours=$(measure "$cli" rectify "$work/source.tif" "$work/ours-$compression.tif" --p1 $p1 --p2 $p2 --p3 $p3 --compress $compression)
  read -r width height < <("$cli" info "$work/ours-$compression.tif" | awk '/^width/{w=$2} /^height/{h=$2} END{print w, h}')
  read -r west north east south < <("$cli" world "$work/ours-$compression.tif" | awk '/^outside_west/{w=$2} /^outside_north/{n=$2} /^outside_east/{e=$2} /^outside_south/{s=$2} END{print w, n, e, s}')
  gdal_compress=$([ $compression = lzw ] && echo LZW || echo NONE)
  sync; gdal=$(measure env GDAL_NUM_THREADS=1 gdalwarp -q -overwrite -order 1 -r near -et 0 -wo NUM_THREADS=1 \
    -te "$west" "$south" "$east" "$north" -ts "$width" "$height" -co COMPRESS=$gdal_compress \
    "$work/source.vrt" "$work/gdal-$compression.tif")
  read -r ours_s ours_mb <<<"$ours"; read -r gdal_s gdal_mb <<<"$gdal"
  printf "%-12s %10s %10s %10s %10s %8.2f\n" $compression "$ours_s" "$gdal_s" "$ours_mb" "$gdal_mb" \
    "$(echo "$gdal_s / $ours_s" | bc -l)"
done
echo "source: $(stat -c %s "$work/source.tif") bytes; output ${width} x ${height}"
/usr/bin/python3 - "$work/ours-none.tif" "$work/gdal-none.tif" <<'PY' 2>/dev/null || echo "(python3-gdal not available for the pixel comparison)"
import sys
from osgeo import gdal
import numpy as np
a = gdal.Open(sys.argv[1]).ReadAsArray(); b = gdal.Open(sys.argv[2]).ReadAsArray()
same = np.all(a == b, axis=0)
print("pixels equal in both outputs: %.4f %%" % (100.0 * same.mean()))
PY
