#!/usr/bin/env bash
# Whole-process times of skts analyze, skts demux (two mapped PIDs, output to a memory-backed
# folder) and skts play --fast (the filter graph, discarding sinks) on the same stream, median of
# RUNS runs each, with the demux / analyze ratio and the throughputs.
#
#   Bench/demux-vs-analyze.sh [SIZE] [RATE]
#     SIZE  stream size (default 75M), made from Tests/data/h264_aac.ts by Bench/make-stream.py
#     RATE  mux rate to pad to with null packets (default: none, the sample's dense 3 Mbit/s)
# Environment: RUNS (default 7), WORK (folder for the stream and outputs, default /dev/shm/skts-bench).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size=${1:-75M}
rate=${2:-0}
runs=${RUNS:-7}
work=${WORK:-/dev/shm/skts-bench}
mkdir -p "$work"
. "$root/Bench/bench-tree.sh"
bench_build skts SkDsDemuxModule
bench_register
stream="$work/stream-$size-$rate.ts"
if [ ! -f "$stream" ]; then
  args=(--size "$size")
  [ "$rate" != 0 ] && args+=(--rate "$rate")
  python3 "$root/Bench/make-stream.py" "$root/Tests/data/h264_aac.ts" "$stream" "${args[@]}"
fi
bytes=$(stat -c %s "$stream")

# Median wall time in seconds of a command run $runs times.
median() {
  local times=()
  for _ in $(seq "$runs"); do
    local start end
    # demux writes into a new folder each run, as a first run does: replacing the last run's
    # files would add the kernel's truncation of them to the time.
    rm -rf "$work/out"
    start=$(date +%s%N)
    "$@" >/dev/null || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s%N)
    times+=($((end - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" 'NR == int((n + 1) / 2) { printf "%.4f", $1 / 1e9 }'
}

analyze=$(median "$skts" analyze "$stream")
demux=$(median "$skts" demux --pid 0x100 --pid 0x101 -o "$work/out" "$stream")
play=$(median "$skts" play --fast --discard --chunk 65536 --pin v=0x100 --pin a=0x101 "$stream")
awk -v b="$bytes" -v a="$analyze" -v d="$demux" -v p="$play" 'BEGIN {
  printf "stream %.1f MB\n", b / 1e6
  printf "analyze     %.4f s  %.2f GB/s\n", a, b / a / 1e9
  printf "demux       %.4f s  %.2f GB/s  (%.2f x analyze)\n", d, b / d / 1e9, d / a
  printf "play --fast %.4f s  %.2f GB/s\n", p, b / p / 1e9
}'
