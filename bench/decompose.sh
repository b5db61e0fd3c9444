#!/bin/bash
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
  # Wall and processor seconds of the peer, from the shell's own accounting of its children.
  out=$( { TIMEFORMAT='%R %U %S'; time opj_compress -i "$tmp/grey.pgm" -o "$tmp/grey.j2k" -I -n 5 -r 20 >/dev/null 2>&1; } 2>&1 )
  echo "$out $size" | awk '{ cpu = $2 + $3; printf "  peer: opj_compress -I (9/7, whole lossy encode) grey: %7.3f s  %7.1f Mpixel/s  (processor time %7.3f s  %7.1f Mpixel/s)\n", $1, $4 * $4 / 1e6 / $1, cpu, $4 * $4 / 1e6 / cpu }'
else
  echo "  peer: opj_compress not installed (libopenjp2-tools)"
fi
