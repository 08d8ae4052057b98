#!/usr/bin/env bash
# How long gridmorph-cli batch takes to check a table before any work: ROWS rows, each its
# own small scan in one folder and its own output in another, and a last row whose scan is
# missing, so that the batch is refused after the check and nothing runs. Every shard checks
# the whole table, so this is also the start-up cost of each task of a job array.
#
#   bench/bench_batch_check.sh [BUILD_FOLDER] [WORK_FOLDER] [ROWS...]   (ROWS: default 4000 16000)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="${2:-/tmp/bench-batch-check}"
shift $(( $# > 2 ? 2 : $# ))
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(4000 16000)
cli="$build/src/cli/gridmorph-cli"
mkdir -p "$work/scans" "$work/out"
# A white 120 x 90 24-bit BMP: the header, then 90 rows of 360 bytes.
[ -f "$work/scan.bmp" ] || {
  printf 'BM\xc6\x7e\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28\x00\x00\x00\x78\x00\x00\x00\x5a\x00\x00\x00'
  printf '\x01\x00\x18\x00\x00\x00\x00\x00\x90\x7e\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00'
  printf '\x00\x00\x00\x00\x00\x00\x00\x00'
  head -c 32400 /dev/zero | tr '\0' '\377'
} > "$work/scan.bmp"
for rows in "${counts[@]}"; do
  table="$work/table-$rows.csv"
  {
    echo "scan,output,p1x,p1y,p1e,p1n,p2x,p2y,p3x,p3y,p3e,p3n"
    for i in $(seq -w 1 "$rows"); do
      [ -f "$work/scans/s$i.bmp" ] || cp "$work/scan.bmp" "$work/scans/s$i.bmp"
      echo "scans/s$i.bmp,out/s$i.tif,5,6,1000,2000,110,8,108,80,1200,1850"
    done
    echo "scans/missing.bmp,out/missing.tif,5,6,1000,2000,110,8,108,80,1200,1850"
  } > "$table"
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$cli" batch "$table" >/dev/null 2>&1 || true
  read -r seconds kb < <(tail -n 1 "$work/time.txt")
  printf "%6d rows: %7s s to check the table, %5d MB peak\n" "$rows" "$seconds" $((kb / 1024))
done
