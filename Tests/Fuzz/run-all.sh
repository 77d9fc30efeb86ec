#!/usr/bin/env bash
# Builds every libFuzzer target and runs them all for SECONDS each, as many at once as there are
# cores. Usage: Tests/Fuzz/run-all.sh SECONDS
# Environment: PARALLEL (targets at once, default the number of cores), TARGETS (which and in
#   what order, default "filter engine psi analyser es"), NICE (niceness of the fuzzers, default
#   0; long campaigns on a shared machine use 19), FUZZ_DIR and FUZZ_BUILD as in run-one.sh.
# Prints one line per target with the inputs it ran and whether it stayed clean, then
# "N passed, N failed"; the exit status is not 0 when a target crashed, leaked or hung (its
# input is in FUZZ_DIR/artifacts/TARGET/, its log in FUZZ_DIR/logs/TARGET.log).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:?usage: run-all.sh SECONDS}
parallel=${PARALLEL:-$(nproc)}
targets=(${TARGETS:-filter engine psi analyser es})
work=${FUZZ_DIR:-$root/build/fuzz-work}
mkdir -p "$work/logs"

"$here/build.sh"

declare -A status
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  (
    set +e
    FUZZ_SKIP_BUILD=1 FUZZ_DIR="$work" "$here/run-one.sh" "$target" "$seconds" >"$work/logs/$target.log" 2>&1
    echo $? >"$work/logs/$target.status"
  ) &
  running=$((running + 1))
done
wait

passed=0
failed=0
for target in "${targets[@]}"; do
  log="$work/logs/$target.log"
  code=$(cat "$work/logs/$target.status" 2>/dev/null || echo 1)
  runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 inputs in \2 s/p' "$log" | tail -1)
  if [ "$code" = 0 ]; then
    passed=$((passed + 1))
    echo "fuzz $target: ${runs:-no inputs}, clean"
  else
    failed=$((failed + 1))
    echo "fuzz $target: FAILED (exit $code), see $log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' "$log" | head -5 || true
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
