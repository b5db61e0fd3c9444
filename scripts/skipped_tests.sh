#!/usr/bin/env bash
# Prints how many tests the last ctest run in build folder $1 skipped, and why: each distinct
# reason (the message after GoogleTest's "Skipped" line) with the number of tests that gave it.
set -euo pipefail
dir=${1:?usage: skipped_tests.sh BUILD_DIR}
log="$dir/Testing/Temporary/LastTest.log"
if [ ! -f "$log" ]; then
  echo "$dir: no test log (tests did not run)"
  exit 0
fi
awk -v dir="$dir" '
  /^[0-9]+\/[0-9]+ Test: / { ran++; reason = ""; grab = 0; next }
  grab { reason = $0; grab = 0; next }
  /: Skipped$/ { grab = 1; next }
  /^Skip regular expression found in output/ {
    skipped++
    count[reason == "" ? "(no reason given)" : reason]++
  }
  END {
    printf "%s: %d of %d tests skipped\n", dir, skipped, ran
    for (r in count) printf "  %4d  %s\n", count[r], r | "sort -k1,1nr -k2"
  }' "$log"
