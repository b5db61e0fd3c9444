#!/bin/sh
# Peak RSS of the blockwise decomposition for 16, 64 and 256 megapixel synthetic images with the
# same block size; the three figures should stay within 20 % of each other.
# Usage: bench/tiling_memory.sh [build-dir] [block] [nlev]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
block=${2:-512}
nlev=${3:-4}
cmake --build "$build" --target tiling_memory_bench -j2 >/dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for mp in 16 64 256; do
  "$build/tiling_memory_bench" $mp $block $nlev | tee -a "$out"
done
awk '{ for (i = 1; i <= NF; ++i) if ($i == "RSS") v[NR] = $(i + 1) }
     END { lo = hi = v[1]; for (i in v) { if (v[i] < lo) lo = v[i]; if (v[i] > hi) hi = v[i] }
           printf "  peak RSS spread: %.1f %% (limit 20 %%)\n", (hi - lo) / lo * 100 }' "$out"
