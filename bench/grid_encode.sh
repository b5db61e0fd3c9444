#!/usr/bin/env bash
# A synthetic grey image encoded as a grid of .vxl files by python3 -m vexal_grid on a local
# Dask cluster of 1 and of 2 workers, beside the same image encoded as one file by vexal_encode
# alone, all in one run: wall time, speed-up of 2 workers over 1, and the peak memory of each
# cell's encoder (a worker runs one cell at a time) and of the largest process of the run.
# Every encoder runs with -threads 1, so that the workers, not the encoder's threads, scale.
# Usage: bench/grid_encode.sh [build dir] [size, e.g. 45056x45056 (2 gigapixels)] [cell]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
size=${2:-45056x45056}
cell=${3:-8192}
width=${size%x*}
height=${size#*x}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d -p "${BENCH_TMP:-/tmp}")
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target test_image_bench vexal_encode -j2 > /dev/null 2>&1
python=${VEXAL_PYTHON:-/usr/bin/python3}

# The pixels: written once as PGM by the synthetic generator, kept as a tiled 8-bit TIFF.
"$build/test_image_bench" "$width" "$height" 1 "$work/in.rfi" "$work/in.pgm"
rm "$work/in.rfi"
gdal_translate -q -co TILED=YES -co BIGTIFF=IF_SAFER "$work/in.pgm" "$work/in.tif"
rm "$work/in.pgm"

# The encoder each cell runs, recording its peak resident memory.
cat > "$work/measured_encoder.sh" << SCRIPT
#!/bin/sh
exec /usr/bin/time -f "%M" -o "$work/rss.\$\$" "$build/vexal_encode" "\$@"
SCRIPT
chmod +x "$work/measured_encoder.sh"
args=(-tif -i "$work/in.tif" -c 20 -threads 1)

seconds() { awk '{ print $1 }' "$1"; }
grid_run() {  # grid_run WORKERS: plans and runs a fresh grid; prints "seconds peak_kb"
  rm -rf "$work/g" "$work"/rss.*
  PYTHONPATH="$source_dir/python" "$python" -m vexal_grid plan -o "$work/g" --cell "$cell" \
    --encoder "$build/vexal_encode" -- "${args[@]}" > /dev/null
  PYTHONPATH="$source_dir/python" /usr/bin/time -f "%e %M" -o "$work/time" \
    "$python" -m vexal_grid run "$work/g" --local "$1" --encoder "$work/measured_encoder.sh" \
    > "$work/run.log" 2>&1 || { cat "$work/run.log"; exit 1; }
  local cells_kb
  cells_kb=$(cat "$work"/rss.* | sort -n | tail -1)
  echo "$(seconds "$work/time") $cells_kb $(awk '{ print $2 }' "$work/time")"
}

/usr/bin/time -f "%e %M" -o "$work/time" "$build/vexal_encode" "${args[@]}" \
  -o "$work/single.vxl" -t "$work" > /dev/null 2>&1
single_s=$(seconds "$work/time")
single_kb=$(awk '{ print $2 }' "$work/time")
single_bytes=$(stat -c %s "$work/single.vxl")
rm "$work/single.vxl"
read -r one_s one_cell_kb one_max_kb < <(grid_run 1)
read -r two_s two_cell_kb two_max_kb < <(grid_run 2)
grid_bytes=$(cat "$work"/g/r*_c*.vxl | wc -c)
cells=$(ls "$work"/g/r*_c*.vxl | wc -l)

echo "grid encoding of ${width}x${height} grey pixels ($(awk -v p=$((width * height)) \
  'BEGIN { printf "%.2f", p / 1e9 }') gigapixels), -c 20, $cells cells of up to $cell pixels"
printf "  %-34s %8s s  peak %6d MB per encoder  %d bytes\n" "one file, vexal_encode -threads 1" \
  "$single_s" $((single_kb / 1024)) "$single_bytes"
printf "  %-34s %8s s  peak %6d MB per encoder  largest process %d MB\n" "grid, 1 local worker" \
  "$one_s" $((one_cell_kb / 1024)) $((one_max_kb / 1024))
printf "  %-34s %8s s  peak %6d MB per encoder  largest process %d MB  %d bytes\n" \
  "grid, 2 local workers" "$two_s" $((two_cell_kb / 1024)) $((two_max_kb / 1024)) "$grid_bytes"
awk -v a="$one_s" -v b="$two_s" -v s="$single_s" \
  'BEGIN { printf "  speed-up of 2 workers over 1: %.2f; 2 workers over one file: %.2f\n", a / b, s / b }'
