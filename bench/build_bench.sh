# Sourced by the benchmark scripts: installs what is needed, builds the Release tree with the benchmarks and
# names what they run. Leaves the shell in the repository root.
cd "$(dirname "${BASH_SOURCE[0]}")/.."
./scripts/install_deps.sh
./scripts/build.sh build-bench Release -DTAVRIK_BUILD_BENCH=ON -DTAVRIK_BUILD_TESTS=OFF >/dev/null
bench=build-bench/bench/tavrik_pipeline_bench
tool=build-bench/cli/tavrik-asr
model=/usr/share/pocketsphinx/model/en-us
