#!/usr/bin/env bash
# Peak resident memory of skts on hostile streams of growing length. Builds a Release tree
# (build/bench), writes the streams with HostileStreams, runs each command under
# /usr/bin/time -v and prints one line per run. Usage: Bench/hostile-memory.sh [MiB...]
# (default 1 16 64; runs at --bitrate 1 only up to 1 MiB, where every packet raises a report
# per PID and the noisy streams take minutes); WORK picks the folder for the streams.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1 16 64)
work=${WORK:-$(mktemp -d)}
. "$root/Bench/bench-tree.sh"
bench_build skts HostileStreams
printf '%-16s %6s  %-34s %4s %10s %8s\n' stream MiB command exit "max RSS" seconds
for size in "${sizes[@]}"; do
  dir="$work/$size"
  "$build/Bench/HostileStreams" "$dir" "$size"
  for stream in "$dir"/*.ts; do
    for command in "analyze --json --events" "analyze --events --bitrate 1" "demux --json"; do
      if [[ $command == *"--bitrate 1"* && $size -gt 1 ]]; then
        continue
      fi
      out="$work/out"
      rm -rf "$out"
      args=($command)
      [[ $command == demux* ]] && args+=(-o "$out")
      set +e
      /usr/bin/time -v -o "$work/time.txt" "$skts" "${args[@]}" "$stream" >/dev/null 2>"$work/err.txt"
      code=$?
      set -e
      rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
      secs=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time.txt")
      printf '%-16s %6s  %-34s %4s %7s KB %8s\n' "$(basename "$stream")" "$size" "$command" "$code" "$rss" "$secs"
    done
  done
  rm -rf "$dir"
done
[ -n "${WORK:-}" ] || rm -rf "$work"
