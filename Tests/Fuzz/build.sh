#!/usr/bin/env bash
# Configures and builds the libFuzzer tree (clang-14 with ASan + UBSan, build/fuzz or FUZZ_BUILD),
# installing clang and its runtime libraries when missing. Usage: Tests/Fuzz/build.sh [TARGET...]
# (default: every fuzz target).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD:-$root/build/fuzz}
cd "$root"
SKTS_EXTRA_PACKAGES="clang-14 libclang-rt-14-dev python3"
. ./cmake/ensure-packages.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
  CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKTS_SANITIZE=fuzzer \
    -DSKTS_BUILD_TESTS=OFF -DSKTS_BUILD_BENCH=OFF >/dev/null
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(PsiFuzz AnalyserFuzz EsParserFuzz EngineFuzz FilterFuzz)
cmake --build "$build" --target "${targets[@]}" >/dev/null
