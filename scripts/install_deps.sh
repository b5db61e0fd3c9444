#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the quick start and the benchmarks' peers need
# (only missing ones).
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config libtiff-dev libgeotiff-dev libjpeg62-turbo-dev libgtest-dev
          libtiff-tools gdal-bin libopenjp2-tools xplanet-images dcmtk imagemagick
          libjpeg-turbo-progs python3-distributed python3-pytest python3-gdal python3-numpy
          libgdal-dev python3-rasterio libvips-tools nginx-light openjph-tools grokj2k-tools
          valgrind strace)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
