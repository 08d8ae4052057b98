#!/usr/bin/env bash
# Memory and time of the command line's rectify on a 12000 x 9000 24-bit scan, whole
# processes, paired runs taken in turn: this build (output made band by band as it is
# written, a BMP scan mapped, a TIFF scan read a band at a time), a baseline build, and
# gdalwarp on the same three control points (first order, nearest, one thread). Inputs:
# uncompressed strip TIFF, LZW TIFF and BMP; output uncompressed or LZW TIFF as the input;
# then convert of the BMP, and crop of a 2000 x 2000 window of both TIFFs, beside
# gdal_translate; libvips's affine on the TIFF scans when it is installed (Debian's
# libvips-tools). Prints wall, user and system seconds of the fastest run of each, the
# ratios of gdal's wall and processor time (user + system) over ours, and the highest peak resident
# memory of all runs (/usr/bin/time -v), with the load average before and after.
#
#   bench/bench_stream.sh BUILD BASELINE_BUILD [WORK_FOLDER] [ROUNDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$1"; baseline="$2"; work="${3:-$(mktemp -d)}"; rounds="${4:-5}"
mkdir -p "$work"
cli="$build/src/cli/gridmorph-cli"; base_cli="$baseline/src/cli/gridmorph-cli"
command -v gdalwarp >/dev/null || { echo "gdalwarp (Debian's gdal-bin) is needed" >&2; exit 1; }
echo "load before: $(uptime | sed 's/.*load average: //')"
size=12000x9000
[ -f "$work/source-none.tif" ] || "$build/bench/bench_resample" "$root/data/sample/sample-map.jpg" --make-source "$work/source-none.tif" "$size"
[ -f "$work/source-lzw.tif" ] || gdal_translate -q -co COMPRESS=LZW "$work/source-none.tif" "$work/source-lzw.tif"
[ -f "$work/source-bmp.bmp" ] || gdal_translate -q -of BMP "$work/source-none.tif" "$work/source-bmp.bmp"
p1="200,200,500000,6100000"; p2="11800,400"; p3="11740,8800,511600,6091150"

# One run: "wall user sys peak_MB".
measure() {
  /usr/bin/time -v -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || { cat "$work/stderr.txt" >&2; exit 1; }
  awk -F': ' '/Elapsed \(wall/{split($2, t, ":"); w = (length(t) == 3) ? t[1] * 3600 + t[2] * 60 + t[3] : t[1] * 60 + t[2]}
    /User time/{u = $2} /System time/{s = $2} /Maximum resident/{m = $2} END{printf "%.2f %.2f %.2f %.0f\n", w, u, s, m / 1024}' "$work/time.txt"
}

declare -A best_wall=() best_user=() best_sys=() peak=()
# Runs the array cmd for the named tool and keeps its fastest run (wall, user, system) and
# its highest peak in best_wall, best_user, best_sys and peak.
record() {
  local tool=$1 w u s m
  sync
  read -r w u s m < <(measure "${cmd[@]}")
  if [ -z "${best_wall[$tool]:-}" ] || awk -v a="$w" -v b="${best_wall[$tool]}" 'BEGIN{exit !(a < b)}'; then
    best_wall[$tool]=$w; best_user[$tool]=$u; best_sys[$tool]=$s
  fi
  (( m > ${peak[$tool]:-0} )) && peak[$tool]=$m
  return 0
}

# Prints a row per tool (ours, whole, the reference) with the reference's processor time
# over the tool's, then whether the streamed and whole outputs are the same bytes; clears
# the kept figures.
print_rows() {
  local label1=$1 label2=$2 reference=$3 streamed=$4 whole=$5 tool same
  local reference_cpu
  reference_cpu=$(echo "${best_user[$reference]} + ${best_sys[$reference]}" | bc -l)
  for tool in ours whole "$reference" vips; do
    [ -n "${best_wall[$tool]:-}" ] || continue
    printf "%-7s %-5s %-14s %7s %7s %7s %10.2f %9.2f %8s\n" "$label1" "$label2" "$tool" "${best_wall[$tool]}" \
      "${best_user[$tool]}" "${best_sys[$tool]}" "$(echo "${best_wall[$reference]} / ${best_wall[$tool]}" | bc -l)" \
      "$(echo "$reference_cpu / (${best_user[$tool]} + ${best_sys[$tool]})" | bc -l)" "${peak[$tool]}"
  done
  cmp -s "$streamed" "$whole" && same="same bytes" || same="DIFFERENT"
  echo "  streamed and whole outputs: $same"
  best_wall=(); best_user=(); best_sys=(); peak=()
}

printf "%-7s %-5s %-14s %7s %7s %7s %10s %9s %8s\n" input out tool wall user sys "gdal wall/x" "gdal cpu/x" "peak MB"
for input in none lzw bmp; do
  case $input in none | lzw) source="$work/source-$input.tif" ;; bmp) source="$work/source-bmp.bmp" ;; esac
  compress=$([ "$input" = lzw ] && echo lzw || echo none)
  gdal_compress=$([ "$compress" = lzw ] && echo LZW || echo NONE)
  "$cli" rectify "$source" "$work/ours.tif" --p1 "$p1" --p2 "$p2" --p3 "$p3" --compress $compress >/dev/null
  read -r width height < <("$cli" info "$work/ours.tif" | awk '/^width/{w=$2} /^height/{h=$2} END{print w, h}')
  read -r west north east south < <("$cli" world "$work/ours.tif" | awk '/^outside_west/{w=$2} /^outside_north/{n=$2} /^outside_east/{e=$2} /^outside_south/{s=$2} END{print w, n, e, s}')
  gdal_translate -q -of VRT -gcp 200.5 200.5 500000 6100000 -gcp 11800.5 400.5 511600 6100000 \
    -gcp 11740.5 8800.5 511600 6091150 "$source" "$work/source.vrt"
  # libvips (when installed, TIFF scans): the affine map from scan pixels to output pixels
  # that the three points and the output's corners give, nearest neighbour, all threads.
  tools=(ours whole gdalwarp)
  if command -v vips >/dev/null && [ "$input" != bmp ]; then
    tools+=(vips)
    read -r va vb vc vd vdx vdy < <(awk -v W="$width" -v ow="$west" -v oe="$east" -v on="$north" 'BEGIN{
      x1 = 200; y1 = 200; E1 = 500000; N1 = 6100000; x2 = 11800; y2 = 400; E2 = 511600; N2 = 6100000
      x3 = 11740; y3 = 8800; E3 = 511600; N3 = 6091150
      det = (x2 - x1) * (y3 - y1) - (x3 - x1) * (y2 - y1)
      e1 = ((E2 - E1) * (y3 - y1) - (E3 - E1) * (y2 - y1)) / det; e2 = ((x2 - x1) * (E3 - E1) - (x3 - x1) * (E2 - E1)) / det
      n1 = ((N2 - N1) * (y3 - y1) - (N3 - N1) * (y2 - y1)) / det; n2 = ((x2 - x1) * (N3 - N1) - (x3 - x1) * (N2 - N1)) / det
      e0 = E1 - e1 * x1 - e2 * y1; n0 = N1 - n1 * x1 - n2 * y1; res = (oe - ow) / W
      printf "%.12f %.12f %.12f %.12f %.6f %.6f\n", e1 / res, e2 / res, -n1 / res, -n2 / res, (e0 - ow) / res - 0.5, (on - n0) / res - 0.5 }')
  fi
  for round in $(seq "$rounds"); do
    for tool in "${tools[@]}"; do
      rm -f "$work/$tool.tif"
      case $tool in
        ours) cmd=("$cli" rectify "$source" "$work/ours.tif" --p1 "$p1" --p2 "$p2" --p3 "$p3" --compress $compress) ;;
        whole) cmd=("$base_cli" rectify "$source" "$work/whole.tif" --p1 "$p1" --p2 "$p2" --p3 "$p3" --compress $compress) ;;
        gdalwarp) cmd=(env GDAL_NUM_THREADS=1 gdalwarp -q -overwrite -order 1 -r near -et 0 -wo NUM_THREADS=1
          -te "$west" "$south" "$east" "$north" -ts "$width" "$height" -co COMPRESS=$gdal_compress "$work/source.vrt" "$work/gdalwarp.tif") ;;
        vips) cmd=(vips affine "$source" "$work/vips.tif[compression=$compress]" "$va $vb $vc $vd" --interpolate nearest
          --odx "$vdx" --ody "$vdy" --oarea "0 0 $width $height") ;;
      esac
      record "$tool"
    done
  done
  print_rows "$input" $compress gdalwarp "$work/ours.tif" "$work/whole.tif"
done
# convert of the BMP scan to uncompressed TIFF beside gdal_translate, in turn, best of the rounds.
for round in $(seq "$rounds"); do
  for tool in ours whole gdal_translate; do
    rm -f "$work/convert-$tool.tif"
    case $tool in
      ours) cmd=("$cli" convert "$work/source-bmp.bmp" "$work/convert-ours.tif" --compress none) ;;
      whole) cmd=("$base_cli" convert "$work/source-bmp.bmp" "$work/convert-whole.tif" --compress none) ;;
      gdal_translate) cmd=(gdal_translate -q -co COMPRESS=NONE "$work/source-bmp.bmp" "$work/convert-gdal_translate.tif") ;;
    esac
    record "$tool"
  done
done
print_rows convert none gdal_translate "$work/convert-ours.tif" "$work/convert-whole.tif"

# crop of a 2000 x 2000 window of the uncompressed and the LZW scan (output compressed as
# the scan) beside gdal_translate -srcwin, in turn, best of the rounds.
for input in none lzw; do
  gdal_compress=$([ "$input" = lzw ] && echo LZW || echo NONE)
  for round in $(seq "$rounds"); do
    for tool in ours whole gdal_translate; do
      rm -f "$work/crop-$tool.tif"
      case $tool in
        ours) cmd=("$cli" crop "$work/source-$input.tif" "$work/crop-ours.tif" --rect 5000,3000,2000,2000 --compress $input) ;;
        whole) cmd=("$base_cli" crop "$work/source-$input.tif" "$work/crop-whole.tif" --rect 5000,3000,2000,2000 --compress $input) ;;
        gdal_translate) cmd=(gdal_translate -q -srcwin 5000 3000 2000 2000 -co COMPRESS=$gdal_compress "$work/source-$input.tif"
          "$work/crop-gdal_translate.tif") ;;
      esac
      record "$tool"
    done
  done
  print_rows crop $input gdal_translate "$work/crop-ours.tif" "$work/crop-whole.tif"
done

# LARGE=1: also a 40000 x 30000 scan (1.2 gigapixels; 3.6 GB as BMP and as TIFF, and as
# much again for each output: about 15 GB of disc), one run of each, output uncompressed.
if [ "${LARGE:-0}" = 1 ]; then
  large="$work/large"; mkdir -p "$large"
  [ -f "$large/source.tif" ] || "$build/bench/bench_resample" "$root/data/sample/sample-map.jpg" --make-source "$large/source.tif" 40000x30000
  [ -f "$large/source.bmp" ] || gdal_translate -q -of BMP "$large/source.tif" "$large/source.bmp"
  lp=(--p1 667,667,500000,6100000 --p2 39333,1333 --p3 39133,29333,538672,6071999 --compress none --yes)
  gdal_translate -q -of VRT -gcp 667.5 667.5 500000 6100000 -gcp 39333.5 1333.5 538672 6100000 \
    -gcp 39133.5 29333.5 538672 6071999 "$large/source.tif" "$large/source.vrt"
  echo "40000 x 30000: wall user sys peak_MB"
  for input in bmp tif; do
    rm -f "$large/ours.tif"
    echo "ours, $input scan: $(measure "$cli" rectify "$large/source.$input" "$large/ours.tif" "${lp[@]}")"
  done
  read -r width height < <("$cli" info "$large/ours.tif" | awk '/^width/{w=$2} /^height/{h=$2} END{print w, h}')
  read -r west north east south < <("$cli" world "$large/ours.tif" | awk '/^outside_west/{w=$2} /^outside_north/{n=$2} /^outside_east/{e=$2} /^outside_south/{s=$2} END{print w, n, e, s}')
  rm -f "$large/ours.tif"
  echo "gdalwarp: $(measure env GDAL_NUM_THREADS=1 gdalwarp -q -overwrite -order 1 -r near -et 0 -wo NUM_THREADS=1 \
    -te "$west" "$south" "$east" "$north" -ts "$width" "$height" -co COMPRESS=NONE -co BIGTIFF=YES "$large/source.vrt" "$large/gdal.tif")"
  rm -f "$large/gdal.tif"
fi
echo "load after: $(uptime | sed 's/.*load average: //')"
