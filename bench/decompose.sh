#!/bin/sh
# Builds and runs the decomposition benchmark, then times OpenJPEG's lossy 9/7 encoder on the
# same grey pixels for scale (a whole encode with entropy coding, so an upper bound on its
# transform time). Usage: bench/decompose.sh [build-dir] [size]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
size=${2:-4096}
cmake --build "$build" --target decompose_bench -j2 >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/decompose_bench" "$size" 512 4 --pgm "$tmp/grey.pgm"
if command -v opj_compress >/dev/null 2>&1; then
  start=$(date +%s.%N)
  opj_compress -i "$tmp/grey.pgm" -o "$tmp/grey.j2k" -I -n 5 -r 20 >/dev/null
  end=$(date +%s.%N)
  echo "$start $end $size" | awk '{ t = $2 - $1; printf "  peer: opj_compress -I (9/7, whole lossy encode) grey: %7.3f s  %7.1f Mpixel/s\n", t, $3 * $3 / 1e6 / t }'
else
  echo "  peer: opj_compress not installed (libopenjp2-tools)"
fi
