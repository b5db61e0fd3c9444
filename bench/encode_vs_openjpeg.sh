#!/usr/bin/env bash
# End-to-end encoding speed, peak memory and quality of vexal_encode against OpenJPEG's
# opj_compress (irreversible 9/7, 5 levels) on the same RGB pixels, in one run. The pixels come
# from bench/test_image_bench (textured synthetic image): vexal reads them as TIFF when the TIFF
# reader is built in, else as RFI floats; opj_compress reads the same pixels as PPM.
# Usage: bench/encode_vs_openjpeg.sh [build dir] [size, e.g. 4096x2048]
set -euo pipefail
build=${1:-build}
size=${2:-4096x2048}
width=${size%x*}
height=${size#*x}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target test_image_bench vexal_encode vexal_decode -j2 > /dev/null 2>&1
"$build/test_image_bench" "$width" "$height" 3 "$work/in.rfi" "$work/in.ppm"
pixels=$((width * height))
raw=$((pixels * 3))

# Prints "wall_seconds processor_seconds peak_rss_kb" of a command.
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null 2>&1
  awk '{ print $1, $2 + $3, $4 }' "$work/time"
}
# True when vexal_encode reads TIFF (tried on a small image).
tiff_reader_built() {
  "$1/test_image_bench" 128 128 3 "$2/probe.rfi" "$2/probe.ppm" &&
    convert "$2/probe.ppm" "$2/probe.tif" &&
    "$1/vexal_encode" -tif -i "$2/probe.tif" -o "$2/probe.vxl" -n 1 -t "$2" > /dev/null 2>&1
}
psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 || true; }

# -c is a ratio to 8-bit words (-wl) whatever the input's sample type, as is the peer's -r.
input="RFI floats"
vexal_in=(-rfi -i "$work/in.rfi")
if tiff_reader_built "$build" "$work" && convert "$work/in.ppm" "$work/in.tif" 2> /dev/null; then
  input="8-bit TIFF"
  vexal_in=(-tif -i "$work/in.tif")
fi
read -r v_s v_cpu v_kb < <(measure "$build/vexal_encode" "${vexal_in[@]}" -o "$work/out.vxl" -n 5 -c 20 -t "$work")
"$build/vexal_decode" -i "$work/out.vxl" -o "$work/vexal_f.tif"
gdal_translate -q -ot Byte "$work/vexal_f.tif" "$work/vexal.tif"  # rounds float samples
read -r o_s o_cpu o_kb < <(measure opj_compress -i "$work/in.ppm" -o "$work/out.j2k" -I -n 5 -r 20)
opj_decompress -i "$work/out.j2k" -o "$work/opj.ppm" > /dev/null

echo "${width} x ${height} RGB ($((pixels / 1000000)) Mpixel); vexal_encode reads ${input}."
printf "%-14s %8s %8s %8s %10s %8s %8s\n" coder "Mpx/s" "cpu s" "peak MB" bytes ratio "PSNR dB"
row() {  # name seconds cpu_seconds peak_kb bytes psnr
  awk -v n="$1" -v s="$2" -v c="$3" -v kb="$4" -v b="$5" -v p="$6" -v px="$pixels" -v raw="$raw" \
    'BEGIN { printf "%-14s %8.2f %8.2f %8.1f %10d %8.2f %8s\n", n, px / 1e6 / s, c, kb / 1024, b, raw / b, p }'
}
row vexal_encode "$v_s" "$v_cpu" "$v_kb" "$(stat -c %s "$work/out.vxl")" "$(psnr "$work/in.ppm" "$work/vexal.tif")"
row opj_compress "$o_s" "$o_cpu" "$o_kb" "$(stat -c %s "$work/out.j2k")" "$(psnr "$work/in.ppm" "$work/opj.ppm")"
