#!/bin/sh
# Builds the elementary-stream fuzz target with clang's libFuzzer (ASan + UBSan) and runs it.
# Usage: Tests/Fuzz/run-es-fuzz.sh [seconds] [extra libFuzzer options...]
#   seconds   how long to fuzz (default 600)
# Environment: CXX (default clang++-14), FUZZ_DIR (work folder, default build/fuzz-es),
#   JOBS (parallel fuzzing processes, default 1).
# The corpus is seeded from the sample streams' first PES packets when they are found.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-600}
[ $# -gt 0 ] && shift
cxx=${CXX:-clang++-14}
work=${FUZZ_DIR:-$root/build/fuzz-es}
jobs=${JOBS:-1}
mkdir -p "$work/corpus" "$work/artifacts"
work=$(cd "$work" && pwd)

src="$root/SklibTs"
"$cxx" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -fno-omit-frame-pointer -Wall -Wextra -I"$src" \
    "$here/EsParserFuzz.cpp" \
    "$src/BitReader.cpp" "$src/AacParser.cpp" "$src/Ac3Parser.cpp" "$src/EsDescription.cpp" \
    "$src/EsParser.cpp" "$src/EsProperties.cpp" "$src/ExpGolombReader.cpp" "$src/H264Parser.cpp" \
    "$src/HevcParser.cpp" "$src/J2kParser.cpp" "$src/JpegXsParser.cpp" "$src/MpegAudioParser.cpp" \
    "$src/MpegVideoParser.cpp" "$src/NalUnits.cpp" "$src/StreamInfoStore.cpp" "$src/Vc1Parser.cpp" \
    "$src/VesParser.cpp" \
    -o "$work/EsParserFuzz"

if [ -z "$(ls -A "$work/corpus")" ] && command -v python3 >/dev/null; then
    for samples in "$root/Tests/data" "$root/../shared/testdata"; do
        [ -d "$samples" ] && python3 "$here/make-es-corpus.py" "$samples" "$work/corpus"
    done
fi

cd "$work"
parallel=""
[ "$jobs" -gt 1 ] && parallel="-jobs=$jobs -workers=$jobs"
# shellcheck disable=SC2086
exec ./EsParserFuzz -max_total_time="$seconds" -max_len=9000 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" $parallel "$@" corpus
