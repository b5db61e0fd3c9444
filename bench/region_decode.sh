#!/usr/bin/env bash
# Random access: encodes a large grey image (default 16384 x 16384, 256 megapixels) once, then
# decodes a 512 x 512 window at full resolution and prints the share of the file read and the
# time taken; opj_decompress on the same window of a JPEG 2000 file of the same ratio beside it.
# Usage: bench/region_decode.sh [build dir] [edge]
set -euo pipefail
build=${1:-build}
edge=${2:-16384}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert /usr/share/xplanet/images/earth.jpg -resize "${edge}x${edge}!" -colorspace gray \
  -depth 8 -compress none "$work/in.tif"
"$build/vexal_encode" -tif -i "$work/in.tif" -o "$work/big.vxl" -n 5 -c 20 -t "$work" > /dev/null 2>&1
x0=$((edge / 2)); y0=$((edge / 3))
echo "vexal_decode, 512 x 512 window at level 0 of a ${edge} x ${edge} image:"
"$build/vexal_decode" -i "$work/big.vxl" -o "$work/window.tif" \
  -win $x0 $y0 $((x0 + 511)) $((y0 + 511)) -stats
if command -v opj_compress > /dev/null; then
  convert "$work/in.tif" "$work/in.pgm"
  opj_compress -i "$work/in.pgm" -o "$work/big.jp2" -I -r 20 -t 1024,1024 > /dev/null
  start=$(date +%s.%N)
  opj_decompress -i "$work/big.jp2" -o "$work/window.pgm" -d $x0,$y0,$((x0 + 512)),$((y0 + 512)) > /dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "opj_decompress, same window of a tiled JPEG 2000 file: %.3f s\n", b - a }' 
fi
