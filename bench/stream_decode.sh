#!/usr/bin/env bash
# Whole-image decoding in bounded memory: encodes a synthetic grey image of EDGE x EDGE pixels
# (default 20000, 400 megapixels, from bench/test_image_bench, RFI floats) and decodes all of it
# to one TIFF with vexal_decode, printing peak resident memory, time and the output's layout;
# then opj_decompress on a 1024 x 1024-tiled JPEG 2000 file of the same pixels and size, the
# same way. An EDGE of 34000 or more makes an output past 4 GiB, which must be a tiled BigTIFF
# (checked with tiffinfo). Needs about 3 x EDGE^2 x 4 bytes of free disk in $TMPDIR.
# Usage: bench/stream_decode.sh [build dir] [edge]
set -euo pipefail
build=${1:-build}
edge=${2:-20000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/test_vxl.sh"
make_test_vxl "$build" "$edge" "$work"
mp=$(awk -v e="$edge" 'BEGIN { printf "%.0f", e * e / 1e6 }')

measure() {  # label, command...: peak RSS and wall time of one run
  local label=$1
  shift
  /usr/bin/time -f "%M %e %U" -o "$work/time" "$@" > /dev/null 2>&1
  read -r rss wall user < "$work/time"
  awk -v l="$label" -v r="$rss" -v w="$wall" -v u="$user" -v mp="$mp" \
    'BEGIN { printf "%-44s peak RSS %7.1f MB, %7.1f s wall, %7.1f s user, %5.2f Mpx/s of user time\n",
             l, r / 1024, w, u, mp / (u > 0 ? u : 1e-9) }'
}

echo "Decoding a whole ${edge} x ${edge} grey image (${mp} megapixels, .vxl of $size bytes) to TIFF:"
measure "vexal_decode (float TIFF)" "$build/vexal_decode" -i "$work/big.vxl" -o "$work/out.tif"
out=$(stat -c %s "$work/out.tif")
layout=$(tiffinfo "$work/out.tif" 2>/dev/null | awk '/Tile Width/ { t = "tiled" } /Rows\/Strip/ { t = "striped" }
                                                   END { print (t ? t : "?") }')
magic=$(od -An -tu2 -j2 -N2 "$work/out.tif" | tr -d ' ')
[ "$magic" = 43 ] && kind=BigTIFF || kind="classic TIFF"
echo "  output: $out bytes, $kind, $layout"
if [ "$out" -gt 4294967295 ]; then
  if [ "$kind" != BigTIFF ]; then
    echo "  FAIL: an output past 4 GiB must be a BigTIFF" >&2
    exit 1
  fi
  # Its last corner, read back by GDAL, holds the pixels of a window decode of the same place.
  x0=$((edge - 300)); y0=$((edge - 300))
  "$build/vexal_decode" -i "$work/big.vxl" -o "$work/corner.tif" -win $x0 $y0 $((edge - 1)) $((edge - 1))
  gdal_translate -q -of ENVI "$work/corner.tif" "$work/a.img"
  gdal_translate -q -of ENVI -srcwin $x0 $y0 300 300 "$work/out.tif" "$work/b.img"
  if cmp -s "$work/a.img" "$work/b.img"; then echo "  GDAL reads it: last 300 x 300 pixels as decoded alone"
  else echo "  FAIL: GDAL reads other pixels from the BigTIFF" >&2; exit 1; fi
fi
rm -f "$work/out.tif"
measure "vexal_decode -co COMPRESS=DEFLATE" "$build/vexal_decode" -i "$work/big.vxl" \
  -o "$work/out.tif" -co COMPRESS=DEFLATE
echo "  output: $(stat -c %s "$work/out.tif") bytes"
rm -f "$work/out.tif"
if [ $with_peer = 1 ]; then
  measure "opj_decompress (8-bit TIFF), same size file" opj_decompress -i "$work/big.jp2" \
    -o "$work/opj.tif"
fi
