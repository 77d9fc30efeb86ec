#!/usr/bin/env bash
# skts demux over a long looped stream read from a pipe: throughput and resident memory over the
# run (it must stay flat). The stream is Tests/data/h264_aac.ts made continuous over 256 MiB by
# Bench/make-stream.py, then repeated with cat until SIZE is reached; the payloads go to
# /dev/null (the output files are links to it), so the disk holds no copy.
#
#   Bench/long-demux.sh [GIB]     GIB of stream, default 10
# Environment: WORK (folder for the stream, default /dev/shm/skts-long), INTERVAL (seconds
# between memory samples, default 5).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
gib=${1:-10}
work=${WORK:-/dev/shm/skts-long}
interval=${INTERVAL:-5}
mkdir -p "$work"
. "$root/Bench/bench-tree.sh"
bench_build skts
piece="$work/continuous-256M.ts"
[ -f "$piece" ] || python3 "$root/Bench/make-stream.py" "$root/Tests/data/h264_aac.ts" "$piece" --size 256M
piece_bytes=$(stat -c %s "$piece")
total=$((gib * 1024 * 1024 * 1024))
repeats=$(((total + piece_bytes - 1) / piece_bytes))

out="$work/out"
rm -rf "$out"
mkdir -p "$out"
for pid in 0x0100 0x0101; do ln -s /dev/null "$out/$pid.es"; done

echo "stream: $repeats x $(basename "$piece") = $((repeats * piece_bytes / 1048576)) MiB through a pipe"
start=$(date +%s.%N)
(for _ in $(seq "$repeats"); do cat "$piece"; done) | "$skts" demux --json --pid 0x100 --pid 0x101 -o "$out" - \
  >"$work/demux.json" &
skts_pid=$! # the last command of the pipeline
printf '%8s %10s %12s\n' seconds "RSS KiB" "read MiB"
peak=0
first=""
next_print=0
# Memory is looked at every tenth of a second (the peak and the end time need no coarser
# grain), and printed every $interval seconds.
while kill -0 "$skts_pid" 2>/dev/null; do
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$skts_pid/status" 2>/dev/null || echo 0)
  if [ "${rss:-0}" -gt 0 ]; then
    [ -n "$first" ] || first=$rss
    [ "$rss" -gt "$peak" ] && peak=$rss
    last=$rss
    elapsed=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN {print a - b}')
    if awk -v e="$elapsed" -v n="$next_print" 'BEGIN {exit !(e >= n)}'; then
      read_bytes=$(awk '/^rchar:/ {print $2}' "/proc/$skts_pid/io" 2>/dev/null || echo 0)
      printf '%8.0f %10s %12s\n' "$elapsed" "$rss" "$((read_bytes / 1048576))"
      next_print=$(awk -v n="$next_print" -v i="$interval" 'BEGIN {print n + i}')
    fi
  fi
  sleep 0.1
done
wait "$skts_pid"
seconds=$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN {printf "%.1f", a - b}')
rate=$(awk -v n="$((repeats * piece_bytes))" -v s="$seconds" 'BEGIN {printf "%.0f", n / s / 1048576}')
echo "done in $seconds s: $rate MiB/s; RSS first ${first:-?} KiB, last ${last:-?} KiB, peak $peak KiB"
python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print("packets", d["packets"], "pids", [(p["pid"], p["pes"], p["data_lost"]) for p in d["pids"]])' "$work/demux.json"
rm -rf "$out"
