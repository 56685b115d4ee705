# Sourced by the benchmark scripts that build their own helpers.
# shellcheck shell=bash

# build_bench_targets TARGET...: configures the Release tree BUILD_DIR (default build-bench in the repository
# root) with the benchmarks, builds TARGET... there with JOBS jobs (default 2) and sets bench_build to the tree.
build_bench_targets() {
    local root
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    bench_build=${BUILD_DIR:-$root/build-bench}
    cmake -S "$root" -B "$bench_build" -DCMAKE_BUILD_TYPE=Release -DTAVRIK_BUILD_BENCH=ON -DTAVRIK_BUILD_TESTS=OFF >/dev/null
    cmake --build "$bench_build" -j"${JOBS:-2}" --target "$@" >/dev/null
}
