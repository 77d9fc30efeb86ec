# Sourced by the benchmark scripts: the Release tree they build into and run from.
# Needs `root` (the checkout). Sets `build` and `skts`.
#   bench_build TARGET...   configures the tree and builds those targets (missing packages first)
#   bench_register          registers the filter in a registry of the tree, for skts play
build="$root/build/bench"
skts="$build/Tools/skts/skts"

bench_build() {
  (
    cd "$root"
    . ./cmake/ensure-packages.sh
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKTS_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target "$@" >/dev/null
  )
}

# skts play creates the filter by its class identifier; the user's own registry is left alone.
bench_register() {
  export SKTS_REGISTRY="$build/registry"
  "$skts" register >/dev/null
}
