#!/usr/bin/env bash
# gdal_translate -of VXL from a VRT against vexal_encode -tif on the same pixels as a TIFF, in one
# run: wall time, processor time and peak memory. The pixels come from bench/test_image_bench
# (textured synthetic RGB), stored once as a tiled TIFF, which the VRT wraps.
# Usage: bench/gdal_translate_vxl.sh [build dir] [size, e.g. 20000x18000] [GDAL_CACHEMAX in MB]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
size=${2:-20000x18000}
cache=${3:-64}
width=${size%x*}
height=${size#*x}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target test_image_bench vexal_encode gdal_VXL -j2 > /dev/null 2>&1
"$build/test_image_bench" "$width" "$height" 3 "$work/in.rfi" "$work/in.ppm"
rm "$work/in.rfi"
gdal_translate -q -co TILED=YES "$work/in.ppm" "$work/in.tif"
rm "$work/in.ppm"
gdal_translate -q -of VRT "$work/in.tif" "$work/in.vrt"

# Prints "wall_seconds processor_seconds peak_rss_kb" of a command.
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null 2>&1
  awk '{ print $1, $2 + $3, $4 }' "$work/time"
}
read -r e_s e_cpu e_kb < <(measure "$build/vexal_encode" -tif -i "$work/in.tif" -o "$work/encode.vxl" -t "$work")
read -r g_s g_cpu g_kb < <(GDAL_DRIVER_PATH="$build" measure gdal_translate -of VXL \
  --config GDAL_CACHEMAX "$cache" -co TEMP_DIR="$work" "$work/in.vrt" "$work/gdal.vxl")

echo "${width} x ${height} RGB; gdal_translate with GDAL_CACHEMAX=${cache} MB"
printf "%-28s %8s %8s %8s %10s\n" run "wall s" "cpu s" "peak MB" bytes
row() {
  awk -v n="$1" -v s="$2" -v c="$3" -v kb="$4" -v b="$5" \
    'BEGIN { printf "%-28s %8.1f %8.1f %8.1f %10d\n", n, s, c, kb / 1024, b }'
}
row "vexal_encode -tif" "$e_s" "$e_cpu" "$e_kb" "$(stat -c %s "$work/encode.vxl")"
row "gdal_translate -of VXL (VRT)" "$g_s" "$g_cpu" "$g_kb" "$(stat -c %s "$work/gdal.vxl")"
awk -v g="$g_s" -v e="$e_s" 'BEGIN { printf "time ratio: %.2f (limit 1.3)\n", g / e }'
