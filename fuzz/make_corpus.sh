#!/usr/bin/env bash
# Seeds for the fuzz targets: small files of every format and depth made from the
# bundled sample map (by gridmorph-cli, and by gdal_translate for variants our own
# writer does not make), world files, a Release 3 bitmap, and a few broken files.
#
#   fuzz/make_corpus.sh BUILD_FOLDER CORPUS_FOLDER
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cli="$1/src/cli/gridmorph-cli"
out="$2"
mkdir -p "$out"/{bmp,png,jpg,tif,gif,worldfile,release3}
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

"$cli" crop "$root/data/sample/sample-map.jpg" "$tmp/small.bmp" --rect 300,290,24,17 >/dev/null 2>&1
"$cli" convert "$tmp/small.bmp" "$tmp/small8.bmp" --depth 8 >/dev/null 2>&1
for extension in bmp png tif; do
  "$cli" convert "$tmp/small.bmp" "$out/$extension/rgb.$extension" >/dev/null 2>&1
  "$cli" convert "$tmp/small8.bmp" "$out/$extension/palette.$extension" >/dev/null 2>&1
done
"$cli" convert "$tmp/small.bmp" "$out/jpg/rgb.jpg" >/dev/null 2>&1
"$cli" convert "$tmp/small8.bmp" "$out/gif/palette.gif" >/dev/null 2>&1
if command -v gdal_translate >/dev/null; then
  g() { gdal_translate -q "$@" 2>/dev/null || true; }
  g -of BMP -ot Byte -b 1 "$tmp/small.bmp" "$out/bmp/grey.bmp"
  g -of PNG -co ZLEVEL=1 -b 1 "$tmp/small.bmp" "$out/png/grey.png"
  g -of PNG -ot UInt16 -scale 0 255 0 65535 "$tmp/small.bmp" "$out/png/rgb16.png"
  g -of JPEG -b 1 "$tmp/small.bmp" "$out/jpg/grey.jpg"
  g -of JPEG -co PROGRESSIVE=ON "$tmp/small.bmp" "$out/jpg/progressive.jpg"
  for compress in LZW DEFLATE PACKBITS JPEG; do
    g -of GTiff -co COMPRESS=$compress "$tmp/small.bmp" "$out/tif/$compress.tif"
  done
  g -of GTiff -co TILED=YES -co BLOCKXSIZE=16 -co BLOCKYSIZE=16 "$tmp/small.bmp" "$out/tif/tiled.tif"
  g -of GTiff -co INTERLEAVE=BAND "$tmp/small.bmp" "$out/tif/planar.tif"
  g -of GTiff -co NBITS=1 -b 1 "$tmp/small.bmp" "$out/tif/bilevel.tif"
fi
rm -f "$out"/*/*.aux.xml "$out"/*/*.?[gfp]w "$out"/*/*.TFW "$out"/*/*.BPW "$out"/*/*.PGW 2>/dev/null || true
# Broken files: cut short, and the header alone.
for file in "$out"/{bmp,png,jpg,tif,gif}/*; do
  size=$(stat -c %s "$file")
  head -c $((size / 2)) "$file" > "${file%.*}-cut.${file##*.}"
done
printf '2.500000\r\n0.0\r\n0.0\r\n-2.500000\r\n412000.000000\r\n286997.500000\r\n' > "$out/worldfile/full.wld"
printf '1\n0\n0\n-1\n5\n' > "$out/worldfile/short.wld"
printf '  2.5 metres\n0.5\n0.5\n-2.5e0\n1\n2\nseventh\n' > "$out/worldfile/words.wld"
# A Release 3 bitmap: 8 x 5, 8-bit, pixels starting with the block.
python3 - "$out/release3/kelmar.bmp" <<'PY'
import struct, sys
table = b''.join(bytes((i, i, i, 0)) for i in range(256))
block = b'*KELMAR*' + struct.pack('<4i', 412, 287, 414, 285) + b'*KELMAR*'
pixels = block + b'\x07' * 8
header = struct.pack('<IiiHHIIiiII', 40, 8, 5, 1, 8, 0, len(pixels), 0, 0, 256, 0)
offset = 14 + 40 + len(table)
with open(sys.argv[1], 'wb') as f:
    f.write(b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset) + header + table + pixels)
PY
cp "$out/bmp/"*.bmp "$out/release3/"
echo "corpus in $out: $(find "$out" -type f | wc -l) files"
