#!/bin/sh
# Builds the analyser fuzz target with clang's libFuzzer (ASan + UBSan) and runs it.
# Usage: Tests/Fuzz/run-analyser-fuzz.sh [seconds] [extra libFuzzer options...]
#   seconds   how long to fuzz (default 600)
# Environment: CXX (default clang++-14), FUZZ_DIR (work folder, default build/fuzz-analyser),
#   JOBS (parallel fuzzing processes, default 1).
# The corpus is seeded with the first 64 KiB of each sample stream.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-600}
[ $# -gt 0 ] && shift
cxx=${CXX:-clang++-14}
work=${FUZZ_DIR:-$root/build/fuzz-analyser}
jobs=${JOBS:-1}
mkdir -p "$work/corpus" "$work/artifacts" "$work/obj"
work=$(cd "$work" && pwd)

src="$root/SklibTs"
flags="-std=c++20 -O1 -g -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -I$src"
objects=""
for file in "$src"/*.cpp; do
    object="$work/obj/$(basename "$file" .cpp).o"
    if [ ! -f "$object" ] || [ "$file" -nt "$object" ]; then
        # shellcheck disable=SC2086
        "$cxx" $flags -c "$file" -o "$object"
    fi
    objects="$objects $object"
done
# shellcheck disable=SC2086
"$cxx" $flags -fsanitize=fuzzer "$here/AnalyserFuzz.cpp" $objects -o "$work/AnalyserFuzz"

if [ -z "$(ls -A "$work/corpus")" ]; then
    index=0
    for sample in "$root"/Tests/data/*.ts "$root"/../shared/testdata/*.ts; do
        [ -f "$sample" ] || continue
        for lead in 00 08 2c 48; do
            { printf "\\$(printf '%03o' "0x$lead")"; head -c 65536 "$sample"; } > "$work/corpus/seed-$index-$lead"
        done
        index=$((index + 1))
    done
fi

cd "$work"
parallel=""
[ "$jobs" -gt 1 ] && parallel="-jobs=$jobs -workers=$jobs"
# shellcheck disable=SC2086
exec ./AnalyserFuzz -max_total_time="$seconds" -max_len=200000 -timeout=20 -rss_limit_mb=2048 \
    $parallel "$@" "$work/corpus"
