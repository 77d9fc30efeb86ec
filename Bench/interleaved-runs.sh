#!/usr/bin/env bash
# Compares whole-process wall times of a few commands (two builds of skts, say) run in turns, so
# that the host's slow and fast phases fall on all of them alike; the order rotates every round,
# since a fixed order alone made two copies of one binary differ by 2.6 ms. Prints the minimum,
# the 25th percentile and the median of each command in milliseconds.
#
#   Bench/interleaved-runs.sh RUNS 'COMMAND' 'COMMAND' ...
#     OUT in a command stands for an output folder, removed before every run (demux writes into a
#     new folder each run, as a first run does)
# Environment: WORK (where OUT lives, default /dev/shm/skts-bench).
#
# Example: Bench/interleaved-runs.sh 61 "old/skts demux --pid 0x100 -o OUT S.ts" "new/skts demux --pid 0x100 -o OUT S.ts"
set -euo pipefail
if [ $# -lt 2 ]; then
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
runs=$1
shift
commands=("$@")
count=${#commands[@]}
out="${WORK:-/dev/shm/skts-bench}/interleaved-out"
mkdir -p "$(dirname "$out")"
declare -a times
for round in $(seq "$runs"); do
  for step in $(seq 0 $((count - 1))); do
    index=$(((round + step) % count))
    rm -rf "$out"
    command=${commands[$index]//OUT/$out}
    start=$(date +%s%N)
    eval "$command" >/dev/null 2>&1 || { echo "failed: $command" >&2; exit 1; }
    end=$(date +%s%N)
    times[index]+="$(((end - start) / 1000)) "
  done
done
rm -rf "$out"
for index in $(seq 0 $((count - 1))); do
  # shellcheck disable=SC2086 # the times are split on purpose
  printf '%s\n' ${times[$index]} | sort -n | awk -v n="$runs" -v c="${commands[$index]}" '
    { t[NR] = $1 }
    END { printf "min %6.1f  p25 %6.1f  median %6.1f ms  %s\n", t[1] / 1000, t[int(n / 4) + 1] / 1000, t[int((n + 1) / 2)] / 1000, c }'
done
