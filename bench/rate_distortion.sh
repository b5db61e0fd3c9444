#!/usr/bin/env bash
# Quality per byte: the default mode and the rate-distortion mode (-rdo) of vexal_encode beside
# single-tile OpenJPEG (opj_compress -I -r), Grok (grk_compress -I -r), OpenJPH's HTJ2K
# (ojph_compress at the step that gives the size) and GDAL's JP2OpenJPEG driver (QUALITY=), on real
# aerial frames from the sample folder: each largest frame, the first one widened by a flat,
# slightly noisy area (open water), and a grey version of it. At ratios 10, 20, 40 and 80 (raw
# 8-bit sample bytes / file bytes) it prints each coder's actual ratio, PSNR over RGB and over
# luma (0.299 R + 0.587 G + 0.114 B), and encoding time (wall / processor seconds, as the
# machine may be shared). The peers are run in the same run at the size our file actually has:
# OpenJPEG, Grok and OpenJPH once at each of our two files' sizes, GDAL at the -rdo file's;
# "vs opj" and "vs ojph" are our PSNR minus that peer's at the same size (RGB / luma).
# Usage: [ONLY="frame1 widened grey"] bench/rate_distortion.sh [build dir] [sample folder] [ratios...]
set -euo pipefail
source "$(dirname "$0")/ojph_step.sh"
build=${1:-build}
samples=${2:-${VEXAL_TESTDATA:-$(dirname "$0")/../../shared/testdata}}
shift $(( $# > 2 ? 2 : $# )) || true
ratios=("$@")
[ ${#ratios[@]} -gt 0 ] || ratios=(10 20 40 80)
python=/usr/bin/python3  # the Debian interpreter, which has numpy and GDAL
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -f "$build/CMakeCache.txt" ] && cmake --build "$build" --target vexal_encode vexal_decode -j2 > /dev/null 2>&1
for tool in opj_compress opj_decompress grk_compress grk_decompress ojph_compress ojph_expand gdal_translate; do
  command -v $tool > /dev/null || { echo "$tool is needed"; exit 1; }
done
frames=()
for f in "$samples"/bench/seneca_IMG_*.jpg; do [ -f "$f" ] && frames+=("$f"); done
[ ${#frames[@]} -gt 0 ] || { echo "no aerial frames under $samples/bench"; exit 1; }

# The inputs as TIFF: the frames, the first widened by half its width of water, its grey.
"$python" - "$work" "${frames[@]}" <<'PY'
import sys, numpy as np
from osgeo import gdal
work, frames = sys.argv[1], sys.argv[2:]
def save(name, a):
    d = gdal.GetDriverByName("GTiff").Create(f"{work}/{name}.tif", a.shape[2], a.shape[1], a.shape[0])
    for i in range(a.shape[0]): d.GetRasterBand(i + 1).WriteArray(a[i])
    d = None
for i, f in enumerate(frames):
    a = gdal.Open(f).ReadAsArray()
    save(f"frame{i + 1}", a)
    if i == 0:
        rng = np.random.default_rng(1)
        water = np.array([38.0, 62.0, 71.0])[:, None, None] + rng.normal(0, 2.0, (3, a.shape[1], a.shape[2] // 2))
        save("widened", np.concatenate([a, np.clip(np.round(water), 0, 255).astype(np.uint8)], axis=2))
        grey = np.round(0.299 * a[0] + 0.587 * a[1] + 0.114 * a[2]).astype(np.uint8)
        save("grey", grey[None])
PY

cat > "$work/psnr.py" <<'PY'
import sys, numpy as np
from osgeo import gdal
def load(p):
    a = gdal.Open(p).ReadAsArray().astype(np.float64)
    return a[None] if a.ndim == 2 else a
a, b = load(sys.argv[1]), np.clip(np.round(load(sys.argv[2])), 0, 255)
b = b[:a.shape[0]]
db = lambda m: 10 * np.log10(255.0 ** 2 / m) if m > 0 else 99.0
rgb = db(np.mean((a - b) ** 2))
if a.shape[0] >= 3:
    w = np.array([0.299, 0.587, 0.114])[:, None, None]
    luma = db(np.mean(np.sum((a[:3] - b[:3]) * w, 0) ** 2))
else:
    luma = rgb
print("%.2f %.2f" % (rgb, luma))
PY
# Wall and processor (user + system) seconds, as "wall/cpu".
seconds() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" > /dev/null 2>&1
  awk '{ printf "%.2f/%.2f", $1, $2 + $3 }' "$work/time"
}
size_of() { stat -c %s "$1"; }
# Our PSNR minus a peer's, RGB / luma.
versus() {
  awk -v a="${rgb[$1]}" -v b="${rgb[$2]}" -v c="${luma[$1]}" -v d="${luma[$2]}" \
    'BEGIN { printf "%+.2f / %+.2f", a - b, c - d }'
}

printf "%-9s %5s  %-12s %7s %7s %7s %11s %13s %13s\n" image "-c" coder ratio "RGB dB" "luma dB" "wall/cpu s" "vs opj" "vs ojph"
for input in "$work"/frame*.tif "$work/widened.tif" "$work/grey.tif"; do
  [ -z "${ONLY:-}" ] || [[ " $ONLY " == *" $(basename "$input" .tif) "* ]] || continue
  name=$(basename "$input" .tif)
  read -r width height bands < <("$python" -c "from osgeo import gdal; d = gdal.Open('$input'); print(d.RasterXSize, d.RasterYSize, d.RasterCount)")
  raw=$((width * height * bands))
  for r in "${ratios[@]}"; do
    declare -A rgb luma ratio secs
    for mode in default rdo; do
      flags=(); [ $mode = rdo ] && flags=(-rdo)
      rm -f "$work/$mode.vxl" "$work/$mode.txt"
      secs[$mode]=$(seconds "$build/vexal_encode" -tif -i "$input" -o "$work/$mode.vxl" -c "$r" -t "$work" "${flags[@]}")
      "$build/vexal_decode" -i "$work/$mode.vxl" -o "$work/$mode.tif" > /dev/null 2>&1
      read -r rgb[$mode] luma[$mode] < <("$python" "$work/psnr.py" "$input" "$work/$mode.tif")
      ratio[$mode]=$(awk -v a=$raw -v b="$(size_of "$work/$mode.vxl")" 'BEGIN { printf "%.2f", a / b }')
      # The peers at the size of this file.
      peer=opj_$mode
      secs[$peer]=$(seconds opj_compress -i "$input" -o "$work/$peer.j2k" -I -r "${ratio[$mode]}")
      opj_decompress -i "$work/$peer.j2k" -o "$work/$peer.tif" > /dev/null 2>&1
      peer=grk_$mode
      secs[$peer]=$(seconds grk_compress -i "$input" -o "$work/$peer.j2k" -I -r "${ratio[$mode]}")
      grk_decompress -i "$work/$peer.j2k" -o "$work/$peer.tif" > /dev/null 2>&1
      peer=ojph_$mode
      step=$(ojph_step "$input" "$work/$peer.j2k" "$(size_of "$work/$mode.vxl")")
      secs[$peer]=$(seconds ojph_compress -i "$input" -o "$work/$peer.j2k" -qstep "$step")
      ojph_expand -i "$work/$peer.j2k" -o "$work/$peer.tif" > /dev/null 2>&1
      for peer in opj_$mode grk_$mode ojph_$mode; do
        read -r rgb[$peer] luma[$peer] < <("$python" "$work/psnr.py" "$input" "$work/$peer.tif")
        ratio[$peer]=$(awk -v a=$raw -v b="$(size_of "$work/$peer.j2k")" 'BEGIN { printf "%.2f", a / b }')
      done
    done
    quality=$(awk -v x="${ratio[rdo]}" 'BEGIN { printf "%.4f", 100 / x }')
    secs[gdal]=$(seconds gdal_translate -q -of JP2OpenJPEG -co QUALITY="$quality" "$input" "$work/gdal.jp2")
    gdal_translate -q "$work/gdal.jp2" "$work/gdal.tif"
    read -r rgb[gdal] luma[gdal] < <("$python" "$work/psnr.py" "$input" "$work/gdal.tif")
    ratio[gdal]=$(awk -v a=$raw -v b="$(size_of "$work/gdal.jp2")" 'BEGIN { printf "%.2f", a / b }')
    for coder in default opj_default grk_default ojph_default rdo opj_rdo grk_rdo ojph_rdo gdal; do
      vs_opj="" vs_ojph=""
      case $coder in
        default|rdo) vs_opj=$(versus "$coder" "opj_$coder") vs_ojph=$(versus "$coder" "ojph_$coder") ;;
      esac
      printf "%-9s %5s  %-12s %7s %7s %7s %11s %13s %13s\n" "$name" "$r" "$coder" "${ratio[$coder]}" \
        "${rgb[$coder]}" "${luma[$coder]}" "${secs[$coder]}" "$vs_opj" "$vs_ojph"
    done
    unset rgb luma ratio secs
  done
done
