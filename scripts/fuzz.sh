#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for SECONDS (default 60) from its seed corpus with the shared dictionary. New inputs
# go to build-fuzz/corpus/TARGET; a finding leaves its input in build-fuzz/findings/ and makes the
# script fail. Usage: fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi
bash scripts/build.sh fuzz "${targets[@]}"

mkdir -p build-fuzz/findings build-fuzz/logs
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$PWD/fuzz/ubsan.supp"
failed=0
printf '%-22s %10s %10s %8s %8s %s\n' target runs exec/s cov ft result
for target in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$target"
  log="build-fuzz/logs/$target.log"
  result=ok
  # stdout closed: the server code under test prints every refused request to the console.
  if ! "build-fuzz/fuzz/$target" -max_total_time="$seconds" -dict=fuzz/nimbrel.dict -close_fd_mask=1 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$target-" \
      "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    result="FINDING (see $log)"
    failed=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$({ grep -o 'cov: [0-9]*' "$log" || true; } | tail -1 | cut -d' ' -f2)
  ft=$({ grep -o 'ft: [0-9]*' "$log" || true; } | tail -1 | cut -d' ' -f2)
  printf '%-22s %10s %10s %8s %8s %s\n' "$target" "${runs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
exit "$failed"
