#!/usr/bin/env bash
# Installs what is missing, builds, encodes NASA's Blue Marble (from xplanet-images) and decodes
# a window of it at half size.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXAL_BUILD_TESTS=OFF > /dev/null
cmake --build build
mkdir -p out
input=/usr/share/xplanet/images/earth.jpg
rm -f out/earth.vxl out/earth.txt out/earth_window.tif
build/vexal_encode -jpeg -i "$input" -o out/earth.vxl -n 5 -c 20
cat out/earth.txt
if [ -x build/vexal_decode ]; then
  build/vexal_decode -i out/earth.vxl -o out/earth_window.tif -l 1 -win 0 0 511 255
  echo "decoded window: out/earth_window.tif"
fi
