#!/usr/bin/env bash
# Encoding and whole-image decoding with 1, 2 and all threads, beside OpenJPEG (opj_compress /
# opj_decompress -threads N, irreversible 9/7, 5 resolutions, ratio 20), Grok (grk_compress /
# grk_decompress -H N, the same settings), OpenJPH (ojph_compress / ojph_expand, HTJ2K, 5
# levels, one thread only, at the step that gives the same size as ratio 20) and libvips
# (tiffsave of a tiled JPEG pyramid, VIPS_CONCURRENCY=N), all in the same run on the same real
# RGB pixels: a 2 x 2 mosaic of the two Seneca aerial frames of the test data (7200 x 5400), or
# one frame with "small". Checks that vexal_encode writes the same bytes for every thread count.
# Usage: bench/threads.sh [build dir] [small]
set -euo pipefail
source "$(dirname "$0")/ojph_step.sh"
build=${1:-build}
size=${2:-mosaic}
here=$(cd "$(dirname "$0")/.." && pwd)
data=${VEXAL_TESTDATA:-$here/../shared/testdata}
a="$data/bench/seneca_IMG_0452.jpg"
b="$data/bench/seneca_IMG_0512.jpg"
if [[ ! -f $a || ! -f $b ]]; then
  echo "bench/threads.sh: the Seneca frames are not in $data/bench; set VEXAL_TESTDATA." >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target vexal_encode vexal_decode -j2 > /dev/null 2>&1
all=$(nproc)

if [[ $size == small ]]; then
  convert "$a" -define tiff:rows-per-strip=64 "$work/in.tif"
else
  convert \( "$a" "$b" +append \) \( "$b" "$a" +append \) -append \
    -define tiff:rows-per-strip=64 "$work/in.tif"
fi
read -r width height < <(identify -format "%w %h\n" "$work/in.tif")
raw=$((width * height * 3))
mb=$(awk -v r="$raw" 'BEGIN { printf "%.1f", r / 1e6 }')
qstep=$(ojph_step "$work/in.tif" "$work/out.j2c" $((raw / 20)))

# Prints "wall_seconds processor_seconds peak_rss_kb" of a command.
measure() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" > /dev/null 2>&1
  awk '{ print $1, $2 + $3, $4 }' "$work/time"
}
# The coded bytes of a .vxl file: everything in front of its metadata (which holds the date).
coded() {
  local at
  at=$(od -An -tu1 -j89 -N4 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }')
  head -c "$at" "$1"
}
threads_list=(1 2)
[[ $all -gt 2 ]] && threads_list+=("$all")

echo "$width x $height RGB, $mb MB raw, $all cores available; load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-24s %7s %7s %7s %8s %9s %7s %9s\n" step threads "wall s" "cpu s" "MB/s" "MB/cpu-s" "peak MB" "vs vexal"
row() {  # name threads wall cpu kb [vexal's wall, on a peer's row]
  awk -v n="$1" -v t="$2" -v s="$3" -v c="$4" -v kb="$5" -v v="${6:-}" -v raw="$raw" 'BEGIN {
    vs = v == "" ? "" : sprintf("%.2fx", s / v)
    printf "%-24s %7s %7.2f %7.2f %8.1f %9.1f %7.1f %9s\n", n, t, s, c, raw / 1e6 / s,
           raw / 1e6 / c, kb / 1024, vs }'
}

same=yes
declare -A enc_wall
for t in "${threads_list[@]}"; do
  read -r o_s o_cpu o_kb < <(measure opj_compress -i "$work/in.tif" -o "$work/out.j2k" -I -n 5 -r 20 -threads "$t")
  read -r p_s p_cpu p_kb < <(VIPS_CONCURRENCY=$t measure vips tiffsave "$work/in.tif" "$work/pyr.tif" --tile --pyramid --compression jpeg --Q 75)
  read -r g_s g_cpu g_kb < <(measure grk_compress -i "$work/in.tif" -o "$work/grk.j2k" -I -n 5 -r 20 -H "$t")
  if [[ $t == 1 ]]; then read -r h_s h_cpu h_kb < <(measure ojph_compress -i "$work/in.tif" -o "$work/out.j2c" -qstep "$qstep"); fi
  read -r v_s v_cpu v_kb < <(measure "$build/vexal_encode" -tif -i "$work/in.tif" -o "$work/out$t.vxl" -n 5 -c 20 -t "$work" -threads "$t")
  enc_wall[$t]=$v_s
  row "vexal_encode" "$t" "$v_s" "$v_cpu" "$v_kb"
  row "  opj_compress" "$t" "$o_s" "$o_cpu" "$o_kb" "$v_s"
  row "  grk_compress" "$t" "$g_s" "$g_cpu" "$g_kb" "$v_s"
  if [[ $t == 1 ]]; then row "  ojph_compress" "$t" "$h_s" "$h_cpu" "$h_kb" "$v_s"; fi
  row "  vips JPEG pyramid" "$t" "$p_s" "$p_cpu" "$p_kb" "$v_s"
  if ! cmp -s <(coded "$work/out1.vxl") <(coded "$work/out$t.vxl"); then same=no; fi
done
for t in "${threads_list[@]}"; do
  read -r d_s d_cpu d_kb < <(measure "$build/vexal_decode" -i "$work/out1.vxl" -o "$work/back.tif" -threads "$t")
  read -r j_s j_cpu j_kb < <(measure opj_decompress -i "$work/out.j2k" -o "$work/opj.tif" -threads "$t")
  read -r g_s g_cpu g_kb < <(measure grk_decompress -i "$work/grk.j2k" -o "$work/grk.tif" -H "$t")
  if [[ $t == 1 ]]; then read -r h_s h_cpu h_kb < <(measure ojph_expand -i "$work/out.j2c" -o "$work/ojph.tif"); fi
  row "vexal_decode (whole)" "$t" "$d_s" "$d_cpu" "$d_kb"
  row "  opj_decompress" "$t" "$j_s" "$j_cpu" "$j_kb" "$d_s"
  row "  grk_decompress" "$t" "$g_s" "$g_cpu" "$g_kb" "$d_s"
  if [[ $t == 1 ]]; then row "  ojph_expand" "$t" "$h_s" "$h_cpu" "$h_kb" "$d_s"; fi
done
echo "vexal_encode output identical for ${threads_list[*]} threads: $same"
awk -v a="${enc_wall[1]}" -v b="${enc_wall[2]}" 'BEGIN { printf "vexal_encode 2 threads / 1 thread: %.2fx faster\n", a / b }'
echo "File sizes: $(stat -c %s "$work/out1.vxl") vexal, $(stat -c %s "$work/out.j2k") opj, $(stat -c %s "$work/grk.j2k") grk, $(stat -c %s "$work/out.j2c") ojph (step $qstep)."
echo "vs vexal: the peer's wall time over vexal's with the same threads (above 1: vexal is faster)."
[[ $same == yes ]]
