#!/usr/bin/env bash
# End-to-end encoding speed, peak memory and quality of vexal_encode against OpenJPEG's
# opj_compress (irreversible 9/7, the same ratio) on the same RGB pixels, in one run.
# Usage: bench/encode_vs_openjpeg.sh [build dir] [size, e.g. 4096x2048]
set -euo pipefail
build=${1:-build}
size=${2:-4096x2048}
source_image=/usr/share/xplanet/images/earth.jpg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert "$source_image" -resize "${size}!" -depth 8 -compress none "$work/in.tif"
convert "$work/in.tif" "$work/in.ppm"
pixels=$(identify -format '%w %h' "$work/in.tif" | awk '{print $1 * $2}')

# Prints "seconds peak_rss_kb" of a command.
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" > /dev/null 2>&1
  cat "$work/time"
}

psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 || true; }

read -r v_s v_kb < <(measure "$build/vexal_encode" -tif -i "$work/in.tif" -o "$work/out.vxl" -c 20 -t "$work")
"$build/vexal_decode" -i "$work/out.vxl" -o "$work/vexal.tif"
read -r o_s o_kb < <(measure opj_compress -i "$work/in.ppm" -o "$work/out.j2k" -I -r 20)
opj_decompress -i "$work/out.j2k" -o "$work/opj.ppm" > /dev/null

v_size=$(stat -c %s "$work/out.vxl")
o_size=$(stat -c %s "$work/out.j2k")
raw=$((pixels * 3))
printf "%-14s %10s %10s %12s %10s %10s\n" coder "Mpx/s" "peak MB" "bytes" ratio "PSNR dB"
row() {  # name seconds peak_kb bytes psnr
  awk -v n="$1" -v s="$2" -v kb="$3" -v b="$4" -v p="$5" -v px="$pixels" -v raw="$raw" \
    'BEGIN { printf "%-14s %10.2f %10.1f %12d %10.2f %10s\n", n, px / 1e6 / s, kb / 1024, b, raw / b, p }'
}
row vexal_encode "$v_s" "$v_kb" "$v_size" "$(psnr "$work/in.tif" "$work/vexal.tif")"
row opj_compress "$o_s" "$o_kb" "$o_size" "$(psnr "$work/in.ppm" "$work/opj.ppm")"
