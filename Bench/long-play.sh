#!/usr/bin/env bash
# Real-time skts play of a long continuous stream: resident memory over the run (it must stay
# flat) and the lateness of the delivered PES (it must not drift: the long run's p50, p99 and
# maximum stay those of a one-minute run). The stream is Tests/data/h264_aac.ts made continuous
# by Bench/make-stream.py and padded to 4 Mbit/s, so that its length in minutes is exact.
#
#   Bench/long-play.sh [MINUTES]     minutes of stream, default 60
# Environment: WORK (folder for the streams, default /tmp/skts-long-play), INTERVAL (seconds
# between memory samples, default 30), REFERENCE_MINUTES (the short run, default 1; 0: none).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
minutes=${1:-60}
work=${WORK:-/tmp/skts-long-play}
interval=${INTERVAL:-30}
reference=${REFERENCE_MINUTES:-1}
rate=4000000
mkdir -p "$work"
. "$root/Bench/bench-tree.sh"
bench_build skts SkDsDemuxModule
bench_register

# Plays `minutes` of stream in real time; prints memory samples and the lateness per pin.
play() {
  local length=$1
  local stream="$work/continuous-${length}min.ts"
  [ -f "$stream" ] || python3 "$root/Bench/make-stream.py" "$root/Tests/data/h264_aac.ts" "$stream" \
    --size "$((length * 60 * rate / 8))" --rate "$rate"
  echo "== $length min of stream ($(($(stat -c %s "$stream") / 1048576)) MiB) played in real time"
  local start
  start=$(date +%s)
  "$skts" play --json --discard "$stream" >"$work/play-$length.json" &
  local pid=$!
  local peak=0 first="" last="" rss
  while kill -0 "$pid" 2>/dev/null; do
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    if [ "${rss:-0}" -gt 1024 ]; then # a process still starting has next to nothing mapped
      [ -n "$first" ] || first=$rss
      [ "$rss" -gt "$peak" ] && peak=$rss
      last=$rss
      printf '%6s s  RSS %8s KiB\n' "$(($(date +%s) - start))" "$rss"
    fi
    sleep "$interval"
  done
  wait "$pid"
  echo "RSS first ${first:-?} KiB, last ${last:-?} KiB, peak $peak KiB"
  python3 - "$work/play-$length.json" <<'PY'
import json, sys
report = json.load(open(sys.argv[1]))
print(f"duration {report['duration_s']} s, PCR offset changes {report['pcr_offset_changes']}, "
      f"A/V offset error {report['av_offset_error_ms']} ms")
for pin in report["pins"]:
    late = pin["lateness_ms"] or {}
    print(f"  pin {pin['name']}: {pin['pes']} PES, lateness p50 {late.get('p50')} ms, p99 {late.get('p99')} ms, "
          f"max {late.get('max')} ms, start-PTS spread {pin['start_minus_pts_spread_ms']} ms")
PY
}

[ "$reference" -gt 0 ] && play "$reference"
play "$minutes"
