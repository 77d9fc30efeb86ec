#!/usr/bin/env bash
# Builds one libFuzzer target (clang, ASan + UBSan; build tree FUZZ_BUILD, default build/fuzz)
# and runs it. Usage: Tests/Fuzz/run-one.sh TARGET [SECONDS] [extra libFuzzer options...]
#   TARGET   psi | analyser | es | engine | filter
#   SECONDS  how long to fuzz (default 600)
# Environment: FUZZ_DIR (work folder with corpus/, artifacts/ and logs/, default build/fuzz-work),
#   JOBS (parallel fuzzing processes for this target, default 1), NICE (niceness, default 0),
#   FUZZ_SKIP_BUILD=1 (the tree is built already). The work corpus starts from the committed one
#   (Tests/Fuzz/corpus/TARGET) plus larger seeds cut from the sample streams; it keeps growing
#   across runs. The last line of the log says the inputs run; a crash leaves its input in
#   artifacts/TARGET/ and the exit status is not 0.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
target=${1:?target: psi, analyser, es, engine or filter}
seconds=${2:-600}
shift $(( $# >= 2 ? 2 : 1 ))
case "$target" in
  psi) binary=PsiFuzz max_len=65536 ;;
  analyser) binary=AnalyserFuzz max_len=200000 ;;
  es) binary=EsParserFuzz max_len=9000 ;;
  engine) binary=EngineFuzz max_len=131072 ;;
  filter) binary=FilterFuzz max_len=131072 ;;
  *) echo "unknown fuzz target $target" >&2; exit 2 ;;
esac
build=${FUZZ_BUILD:-$root/build/fuzz}
work=${FUZZ_DIR:-$root/build/fuzz-work}
jobs=${JOBS:-1}

if [ "${FUZZ_SKIP_BUILD:-0}" != 1 ]; then
  "$here/build.sh" "$binary"
fi

corpus="$work/corpus/$target"
artifacts="$work/artifacts/$target"
mkdir -p "$corpus" "$artifacts" "$work/logs"
if [ -z "$(ls -A "$corpus")" ]; then
  cp "$here/corpus/$target"/* "$corpus"/ 2>/dev/null || true
  for samples in "$root/Tests/data" "$root/../shared/testdata"; do
    [ -d "$samples" ] || continue
    if [ "$target" = es ]; then
      python3 "$here/make-es-corpus.py" "$samples" "$corpus"
    else
      python3 "$here/make-corpus.py" "$target" "$samples" "$corpus" --max-bytes 65536
    fi
  done
fi

parallel=()
[ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
cd "$work"
exec nice -n "${NICE:-0}" "$build/Tests/Fuzz/$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" ${parallel[@]+"${parallel[@]}"} "$@" "$corpus"
