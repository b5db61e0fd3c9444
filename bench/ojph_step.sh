# Sourced by the benchmarks. OpenJPH's ojph_compress has no rate control, only a quantisation
# step, so the step that gives a file of at most the wanted size is found beforehand, untimed,
# by bisection on its logarithm (14 rounds: within 0.1 % of the size).
# Usage: ojph_step INPUT SCRATCH_FILE TARGET_BYTES [more ojph_compress options]; prints the step.
ojph_step() {
  local input=$1 scratch=$2 target=$3 lo=0.00001 hi=1 mid
  shift 3
  for _ in $(seq 14); do
    mid=$(awk -v a="$lo" -v b="$hi" 'BEGIN { printf "%.6g", sqrt(a * b) }')
    ojph_compress -i "$input" -o "$scratch" -qstep "$mid" "$@" > /dev/null 2>&1
    if (( $(stat -c %s "$scratch") > target )); then lo=$mid; else hi=$mid; fi
  done
  echo "$hi"
}
