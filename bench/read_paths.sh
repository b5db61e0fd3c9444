#!/usr/bin/env bash
# Reading like a COG: makes a mosaic from a real photograph (bench/seneca_IMG_0452.jpg enlarged
# SCALE times each way, default 2: 7200 x 5400 RGB), a cloud-optimised GeoTIFF of it (JPEG,
# QUALITY 75) and a .vxl of the same size, then prints for open / 512 x 512 window / whole image
# at 1/16 and 1/4 per side / whole image, each file beside the other, every figure with the
# opening: milliseconds in one Python process through GDAL (best of REPEAT), bytes read from the
# local file, and requests and bytes over HTTP from a loopback nginx with range requests (started
# and stopped here; GDAL_HTTP_MULTIRANGE=SINGLE_GET, which nginx answers).
# Then the whole image decoded to a file on one thread: vexal_decode to TIFF against ojph_expand
# (OpenJPH) of an HTJ2K file of the same size to PPM, each the least processor time of REPEAT
# runs, in MB of output per processor-second, and vexal_decode on every core in wall time.
# Usage: bench/read_paths.sh [build dir]    (needs gdal-bin, python3-gdal, nginx-light, openjph-tools)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
scale=${SCALE:-2}
repeat=${REPEAT:-5}
testdata=${VEXAL_TESTDATA:-$(dirname "$0")/../../shared/testdata}
photo="$testdata/bench/seneca_IMG_0452.jpg"
[ -f "$photo" ] || { echo "read_paths.sh: $photo not found (set VEXAL_TESTDATA)" >&2; exit 1; }
work=$(mktemp -d)
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2> /dev/null && wait "$nginx_pid" 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT

percent=$((scale * 100))
gdal_translate -q -outsize "$percent%" "$percent%" -r bilinear "$photo" "$work/mosaic.tif"
gdal_translate -q -of COG -co COMPRESS=JPEG -co QUALITY=75 "$work/mosaic.tif" "$work/scene_cog.tif"
read -r width height < <(gdalinfo "$work/mosaic.tif" | awk '/^Size is/ { gsub(",", ""); print $3, $4 }')
cog_bytes=$(stat -c %s "$work/scene_cog.tif")
ratio=$(awk -v w="$width" -v h="$height" -v s="$cog_bytes" 'BEGIN { printf "%.2f", 3 * w * h / s }')
# The ratio the encoder is given is not exactly the ratio of the file: one correction, so both
# files are about the same size.
for pass in 1 2; do
  rm -f "$work/scene.vxl" "$work/scene.txt" "$work/scene.vxw"
  "$build/vexal_encode" -tif -i "$work/mosaic.tif" -o "$work/scene.vxl" -c "$ratio" -t "$work" \
    > /dev/null
  ratio=$(awk -v r="$ratio" -v v="$(stat -c %s "$work/scene.vxl")" -v c="$cog_bytes" \
    'BEGIN { printf "%.3f", r * v / c }')
done
echo "${width} x ${height} RGB: scene.vxl $(stat -c %s "$work/scene.vxl") bytes, COG $cog_bytes bytes"

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/nginx"
cat > "$work/nginx/nginx.conf" << CONF
daemon off; master_process off; worker_processes 1;
pid $work/nginx/nginx.pid; error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  log_format ranges '\$uri \$body_bytes_sent';
  access_log $work/nginx/access.log ranges;
  client_body_temp_path $work/nginx; proxy_temp_path $work/nginx; fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx; scgi_temp_path $work/nginx;
  server { listen 127.0.0.1:$port; root $work; }
}
CONF
/usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
sleep 0.5

GDAL_DRIVER_PATH="$build" GDAL_DISABLE_READDIR_ON_OPEN=EMPTY_DIR GDAL_HTTP_MULTIRANGE=SINGLE_GET \
  /usr/bin/python3 - "$work" "$port" "$repeat" << 'PY'
import os, sys, time
from osgeo import gdal

work, port, repeat = sys.argv[1], sys.argv[2], int(sys.argv[3])
gdal.UseExceptions()
log = os.path.join(work, "nginx", "access.log")

def rchar():
    with open("/proc/self/io") as f:
        return int(next(l for l in f if l.startswith("rchar")).split()[1])

def reads(ds):
    w, h = ds.RasterXSize, ds.RasterYSize
    return [("open", None),
            ("512 x 512 window", lambda: ds.ReadAsArray(w // 2, h // 3, 512, 512)),
            ("1/16 per side", lambda: ds.ReadAsArray(buf_xsize=w // 16, buf_ysize=h // 16)),
            ("1/4 per side", lambda: ds.ReadAsArray(buf_xsize=w // 4, buf_ysize=h // 4)),
            ("whole image", lambda: ds.ReadAsArray())]

def one(path, k):
    ds = gdal.Open(path)
    read = reads(ds)[k][1]
    if read: read()
    ds = None

def http_counts(name, k):
    gdal.VSICurlClearCache()
    open(log, "w").close()
    one("/vsicurl/http://127.0.0.1:%s/%s" % (port, name), k)
    lines = [l.split() for l in open(log) if l.startswith("/" + name + " ")]
    return len(lines), sum(int(l[1]) for l in lines)

names = ["scene.vxl", "scene_cog.tif"]
probe = gdal.Open(os.path.join(work, names[0]))
labels = [label for label, _ in reads(probe)]
probe = None
print("%-18s %22s %22s %26s" % ("", "ms through GDAL", "bytes read (local)", "HTTP requests / bytes"))
print("%-18s %11s %10s %11s %10s %13s %12s" % ("read", ".vxl", "COG", ".vxl", "COG", ".vxl", "COG"))
for k, label in enumerate(labels):
    ms, local, http = [], [], []
    for name in names:
        path = os.path.join(work, name)
        best = float("inf")
        for _ in range(repeat if k < 4 else max(1, repeat // 2)):
            gdal.SetCacheMax(64 << 20)
            t = time.perf_counter()
            one(path, k)
            best = min(best, time.perf_counter() - t)
        ms.append(best * 1000)
        before = rchar()
        one(path, k)
        local.append(rchar() - before)
        http.append(http_counts(name, k))
    print("%-18s %11.2f %10.2f %11d %10d %6d/%-9d %3d/%d" % (
        label, ms[0], ms[1], local[0], local[1], http[0][0], http[0][1], http[1][0], http[1][1]))
PY

# Least user + system seconds and least wall seconds of `repeat` runs of a command.
least_times() {
  local best_cpu=999 best_wall=999
  for _ in $(seq "$repeat"); do
    /usr/bin/time -f "%U %S %e" -o "$work/time" "$@" > /dev/null 2>&1
    read -r user sys wall < "$work/time"
    best_cpu=$(awk -v a="$best_cpu" -v u="$user" -v s="$sys" 'BEGIN { c = u + s; print c < a ? c : a }')
    best_wall=$(awk -v a="$best_wall" -v w="$wall" 'BEGIN { print w < a ? w : a }')
  done
  echo "$best_cpu $best_wall"
}
source "$(dirname "$0")/ojph_step.sh"
gdal_translate -q -of PNM "$work/mosaic.tif" "$work/mosaic.ppm"
step=$(ojph_step "$work/mosaic.ppm" "$work/scene.j2c" "$(stat -c %s "$work/scene.vxl")")
ojph_compress -i "$work/mosaic.ppm" -o "$work/scene.j2c" -qstep "$step" > /dev/null
mb=$(awk -v w="$width" -v h="$height" 'BEGIN { print 3 * w * h / 1e6 }')
read -r vxl_cpu _ < <(least_times "$build/vexal_decode" -i "$work/scene.vxl" -o "$work/out.tif" -threads 1)
read -r ojph_cpu _ < <(least_times ojph_expand -i "$work/scene.j2c" -o "$work/out.ppm")
read -r _ vxl_wall < <(least_times "$build/vexal_decode" -i "$work/scene.vxl" -o "$work/out.tif")
echo "whole image to a file, one thread (HTJ2K $(stat -c %s "$work/scene.j2c") bytes):"
awk -v m="$mb" -v v="$vxl_cpu" -v o="$ojph_cpu" -v w="$vxl_wall" 'BEGIN {
  printf "  vexal_decode %.3f cpu-s, %.0f MB/cpu-s; ojph_expand %.3f cpu-s, %.0f MB/cpu-s\n", v, m / v, o, m / o
  printf "  vexal_decode on every core: %.0f ms wall\n", w * 1000 }'
