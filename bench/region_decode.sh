#!/usr/bin/env bash
# Random access: encodes a large grey image (default 16384 x 16384, 256 megapixels, from
# bench/test_image_bench) once, then decodes a 512 x 512 window at full resolution and prints
# the share of the file read and the time taken; opj_decompress on the same window of a tiled
# JPEG 2000 file of the same size beside it. vexal reads the pixels as RFI floats, OpenJPEG the
# same pixels as PGM.
# Usage: bench/region_decode.sh [build dir] [edge]
set -euo pipefail
build=${1:-build}
edge=${2:-16384}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/test_vxl.sh"
make_test_vxl "$build" "$edge" "$work"
x0=$((edge / 2)); y0=$((edge / 3))
echo "vexal_decode, 512 x 512 window at level 0 of a ${edge} x ${edge} image ($size bytes):"
"$build/vexal_decode" -i "$work/big.vxl" -o "$work/window.tif" \
  -win $x0 $y0 $((x0 + 511)) $((y0 + 511)) -stats
if [ $with_peer = 1 ]; then
  start=$(date +%s.%N)
  opj_decompress -i "$work/big.jp2" -o "$work/window.pgm" -d $x0,$y0,$((x0 + 512)),$((y0 + 512)) > /dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" -v s="$(stat -c %s "$work/big.jp2")" \
    'BEGIN { printf "opj_decompress, same window of a tiled JPEG 2000 file (%d bytes): %.3f s\n", s, b - a }'
fi
