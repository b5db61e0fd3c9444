#!/usr/bin/env bash
# Installs what is missing, builds twice (optimised, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds; ends with what each build
# skipped and why. Tests are always configured in, whatever an earlier configure chose (the
# quick start builds without them), and a build that finds no tests fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh
jobs=$(nproc)
summaries=()

# build_and_test DIR CTEST_TIMEOUT CMAKE_ARGS...
build_and_test() {
  local dir=$1 timeout=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DVEXAL_BUILD_TESTS=ON "$@" > /dev/null
  cmake --build "$dir" -j "$jobs"
  local status=0
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --no-tests=error --timeout "$timeout" ||
    status=$?
  summaries+=("$(scripts/skipped_tests.sh "$dir")")
  if [ "$status" -ne 0 ]; then
    printf '%s\n' "${summaries[@]}"
    exit "$status"
  fi
}

build_and_test build 600 -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build_and_test build-asan 900 -DCMAKE_BUILD_TYPE=Debug -DVEXAL_SANITIZE=ON
echo
printf '%s\n' "${summaries[@]}"
