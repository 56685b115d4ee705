#!/bin/sh
# Builds the alignment benchmark in Release and runs it on the English model and the LibriVox clips.
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build="${BUILD_DIR:-$root/build-bench}"
model="${MODEL_DIR:-/usr/share/pocketsphinx/model/en-us}"
clips="${CLIPS_DIR:-/usr/share/pocketsphinx/test/data/librivox}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVRIK_BUILD_BENCH=ON -DTAVRIK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target alignment_bench
"$build/bench/alignment/alignment_bench" "$model" "$clips" "$@"
