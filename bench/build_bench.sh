# Sourced by the benchmark scripts: installs what is needed, builds the Release tree with the benchmarks and
# names what they run. Leaves the shell in the repository root.
#
# The tree is TAVRIK_BENCH_BUILD_DIR (default build-bench, in the repository root). TAVRIK_BENCH_TOOL names
# a tool to measure instead of the one built there. TAVRIK_BENCH_BUILT names a tree that is built already,
# so the build is skipped: the first script sets it for the scripts it starts.
# shellcheck shell=bash disable=SC2034 # bench, tool and model are for the scripts that source this
given_tool=${TAVRIK_BENCH_TOOL:+$(realpath -- "$TAVRIK_BENCH_TOOL")}
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit
build=${TAVRIK_BENCH_BUILD_DIR:-build-bench}
if [[ ${TAVRIK_BENCH_BUILT:-} != "$build" ]]; then
    ./scripts/install_deps.sh
    ./scripts/build.sh "$build" Release -DTAVRIK_BUILD_BENCH=ON -DTAVRIK_BUILD_TESTS=OFF >/dev/null
    export TAVRIK_BENCH_BUILT=$build
fi
bench=$build/bench/tavrik_pipeline_bench
tool=${given_tool:-$build/cli/tavrik-asr}
model=/usr/share/pocketsphinx/model/en-us
