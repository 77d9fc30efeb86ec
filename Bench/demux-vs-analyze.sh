#!/usr/bin/env bash
# Whole-process times of skts analyze, skts demux (two mapped PIDs, output to a memory-backed
# folder) and skts play --fast (the filter graph, discarding sinks) on the same stream, median of
# RUNS runs each, with the demux / analyze ratio and the throughputs.
#
#   Bench/demux-vs-analyze.sh [SIZE [MAKE-STREAM OPTIONS...]]
#     SIZE     stream size (default 75M), made from Tests/data/h264_aac.ts by Bench/make-stream.py
#     OPTIONS  how to make it (default: --drop-null --share 0.89 --mux-rate 10000000, 8 Mbit/s of
#              H.264 and 0.7 Mbit/s of AAC in a 10 Mbit/s mux; --rate 10000000 pads the sample as
#              it is, payload 17 %)
# Environment: RUNS (default 7), WORK (folder for the stream and outputs, default /dev/shm/skts-bench).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
size=${1:-75M}
shift || true
make_options=("$@")
[ ${#make_options[@]} -eq 0 ] && make_options=(--drop-null --share 0.89 --mux-rate 10000000)
runs=${RUNS:-7}
work=${WORK:-/dev/shm/skts-bench}
mkdir -p "$work"
. "$root/Bench/bench-tree.sh"
bench_build skts SkDsDemuxModule
bench_register
tag=$(printf '%s' "${make_options[*]}" | tr -c 'A-Za-z0-9.' '_')
stream="$work/stream-$size$tag.ts"
if [ ! -f "$stream" ]; then
  python3 "$root/Bench/make-stream.py" "$root/Tests/data/h264_aac.ts" "$stream" --size "$size" "${make_options[@]}"
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
