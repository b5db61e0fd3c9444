#!/bin/sh
# Reading cost of the TIFF reader on a large real GeoTIFF in five layouts (stripped raw,
# stripped Deflate, tiled raw, tiled Deflate, tiled Deflate with each band in its own plane):
# bytes decoded / raw size (target <= 1.5), peak RSS (target < 100 MB) and megapixels per
# second, with opj_compress on the same pixels as the yardstick. The picture is a real aerial
# frame from the shared samples, enlarged SCALE times in each direction (default 3: 10800 x
# 8100, 87 Mpx; 4 gives 155 Mpx).
#   bench/tiff_reader.sh [BUILD_DIR]    (environment: SCALE, TESTDATA, WORK)
set -eu
BUILD=${1:-build}
SCALE=${SCALE:-3}
TESTDATA=${TESTDATA:-$(dirname "$0")/../../shared/testdata}
WORK=${WORK:-$(mktemp -d)}
trap 'rm -rf "$WORK"' EXIT
SOURCE="$TESTDATA/bench/seneca_IMG_0452.jpg"
BENCH="$BUILD/tiff_read_bench"
[ -x "$BENCH" ] || { echo "build $BENCH first" >&2; exit 1; }
command -v gdal_translate >/dev/null || { echo "gdal_translate is needed" >&2; exit 1; }

W=$((3600 * SCALE)); H=$((2700 * SCALE))
georef="-a_srs EPSG:32617 -a_ullr 500000 4500000 $((500000 + W / 10)) $((4500000 - H / 10))"
make_layout() {  # name, creation options
  gdal_translate -q -outsize $W $H $georef $2 "$SOURCE" "$WORK/$1.tif"
}
make_layout strip_raw "-co TILED=NO -co BLOCKYSIZE=16"
make_layout strip_deflate "-co TILED=NO -co BLOCKYSIZE=16 -co COMPRESS=DEFLATE"
make_layout tile_raw "-co TILED=YES -co BLOCKXSIZE=256 -co BLOCKYSIZE=256"
make_layout tile_deflate "-co TILED=YES -co BLOCKXSIZE=256 -co BLOCKYSIZE=256 -co COMPRESS=DEFLATE"
make_layout band_tile_deflate "-co TILED=YES -co BLOCKXSIZE=256 -co BLOCKYSIZE=256 -co COMPRESS=DEFLATE -co INTERLEAVE=BAND"

peak() {  # peak RSS in MB and seconds of a command, from GNU time if present
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "  peak RSS %M KB, %e s" "$@" 2>&1 >/dev/null | tail -1
  else
    start=$(date +%s); "$@" >/dev/null 2>&1; echo "  $(( $(date +%s) - start )) s"
  fi
}

echo "Image: $W x $H RGB ($((W * H / 1000000)) Mpx) from $(basename "$SOURCE")"
for layout in strip_raw strip_deflate tile_raw tile_deflate band_tile_deflate; do
  "$BENCH" "$WORK/$layout.tif" 512 16 "$WORK"
done
if command -v opj_compress >/dev/null; then
  echo "opj_compress (reads the whole image into memory, then codes it), tile_raw input:"
  peak opj_compress -i "$WORK/tile_raw.tif" -o "$WORK/out.j2k" -r 20
fi
