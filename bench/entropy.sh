#!/bin/sh
# Builds and runs the entropy-coder benchmark, then times gzip on the same indices (raw int16)
# for scale: a general-purpose coder on identical data, compress and decompress.
# Usage: bench/entropy.sh [build-dir] [records] [scale]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
records=${2:-400}
scale=${3:-1.5}
cmake --build "$build" --target entropy_bench -j2 >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/entropy_bench" "$records" "$scale" --raw "$tmp/indices.raw"
n=$((records * 16384))
start=$(date +%s.%N)
gzip -6 -c "$tmp/indices.raw" > "$tmp/indices.gz"
mid=$(date +%s.%N)
gzip -d -c "$tmp/indices.gz" > /dev/null
end=$(date +%s.%N)
size=$(stat -c %s "$tmp/indices.gz")
echo "$start $mid $end $n $size" | awk '{ printf "  peer: gzip -6 %.3f bits/index, compress %7.1f Mindex/s, decompress %7.1f Mindex/s\n", $5 * 8 / $4, $4 / 1e6 / ($2 - $1), $4 / 1e6 / ($3 - $2) }'
