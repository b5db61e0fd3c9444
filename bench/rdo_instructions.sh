#!/usr/bin/env bash
# What -rdo costs beside the default mode, in instructions (callgrind, one thread): wall time on
# a shared machine is noise, instruction counts are not. Encodes the first aerial frame of the
# sample folder and its grey version at each ratio in both modes and prints the billions of
# instructions, their ratio, and how many files -rdo made to meet the size (a second coding
# costs about a default mode's work).
# Usage: bench/rdo_instructions.sh [build dir] [sample folder] [ratios...]
set -euo pipefail
build=${1:-build}
samples=${2:-${VEXAL_TESTDATA:-$(dirname "$0")/../../shared/testdata}}
shift $(( $# > 2 ? 2 : $# )) || true
ratios=("$@")
[ ${#ratios[@]} -gt 0 ] || ratios=(10 20 40 80)
for tool in valgrind strace; do command -v $tool > /dev/null || { echo "$tool is needed"; exit 1; }; done
frame=$(ls "$samples"/bench/seneca_IMG_*.jpg 2> /dev/null | head -1)
[ -n "$frame" ] || { echo "no aerial frame under $samples/bench"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -f "$build/CMakeCache.txt" ] && cmake --build "$build" --target vexal_encode -j2 > /dev/null 2>&1
/usr/bin/python3 - "$frame" "$work" <<'PY'
import sys, numpy as np
from osgeo import gdal
rgb = gdal.Open(sys.argv[1]).ReadAsArray()
luma = np.round(np.tensordot([0.299, 0.587, 0.114], rgb.astype(float), 1)).astype(np.uint8)
for name, a in (("frame", rgb), ("grey", luma[None])):
    out = gdal.GetDriverByName("GTiff").Create(f"{sys.argv[2]}/{name}.tif", a.shape[2], a.shape[1], a.shape[0])
    for b in range(a.shape[0]): out.GetRasterBand(b + 1).WriteArray(a[b])
PY
# Billions of instructions of one encoding; the files it made go to $work/made.
instructions() {
  rm -f "$work"/out.vxl "$work"/out.txt
  strace -f -qq -e trace=rename -o "$work/made" valgrind --tool=callgrind \
    --callgrind-out-file="$work/callgrind.out" "$build/vexal_encode" -tif -i "$1" \
    -o "$work/out.vxl" -t "$work" -threads 1 "${@:2}" > /dev/null 2> "$work/log"
  awk '/refs:/ { gsub(",", "", $NF); printf "%.2f", $NF / 1e9 }' "$work/log"
}
printf "%-6s %4s %10s %10s %7s %8s\n" image "-c" "default" "-rdo" ratio codings
for image in frame grey; do
  for r in "${ratios[@]}"; do
    plain=$(instructions "$work/$image.tif" -c "$r")
    rdo=$(instructions "$work/$image.tif" -c "$r" -rdo)
    codings=$(grep -c 'rename(.*out\.vxl' "$work/made" || true)
    printf "%-6s %4s %10s %10s %7s %8s\n" "$image" "$r" "$plain" "$rdo" \
      "$(awk -v a="$rdo" -v b="$plain" 'BEGIN { printf "%.2f", a / b }')" "$codings"
  done
done
