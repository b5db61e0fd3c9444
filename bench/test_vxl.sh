# Sourced by the decoding benchmarks: a synthetic grey image of EDGE x EDGE pixels (from
# bench/test_image_bench) encoded with vexal_encode -n 5 -c 20 into $work/big.vxl ($size bytes),
# and, when OpenJPEG is installed ($with_peer = 1), the same pixels as a 1024 x 1024-tiled JPEG
# 2000 file $work/big.jp2 of the same size.
# Usage: make_test_vxl BUILD EDGE WORK
make_test_vxl() {
  local build=$1 edge=$2 work=$3
  cmake --build "$build" --target test_image_bench vexal_encode vexal_decode -j2 > /dev/null 2>&1
  with_peer=0
  command -v opj_compress > /dev/null && with_peer=1
  if [ $with_peer = 1 ]; then
    "$build/test_image_bench" "$edge" "$edge" 1 "$work/in.rfi" "$work/in.pgm"
  else
    "$build/test_image_bench" "$edge" "$edge" 1 "$work/in.rfi"
  fi
  "$build/vexal_encode" -rfi -i "$work/in.rfi" -o "$work/big.vxl" -n 5 -c 20 -t "$work" > /dev/null 2>&1
  rm -f "$work/in.rfi"
  size=$(stat -c %s "$work/big.vxl")
  if [ $with_peer = 1 ]; then
    # The same number of bytes as the vexal file, so that both hold about as much detail.
    local ratio
    ratio=$(awk -v px="$edge" -v b="$size" 'BEGIN { printf "%.2f", px * px / b }')
    opj_compress -i "$work/in.pgm" -o "$work/big.jp2" -I -n 5 -r "$ratio" -t 1024,1024 > /dev/null
    rm -f "$work/in.pgm"
  fi
}
