#!/bin/sh
# Builds the synthesised-speech benchmarks in Release and runs them on the English model: alignment
# accuracy (with the LibriVox clips' references), then filler restoration in a two-speaker conversation.
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build="${BUILD_DIR:-$root/build-bench}"
model="${MODEL_DIR:-/usr/share/pocketsphinx/model/en-us}"
clips="${CLIPS_DIR:-/usr/share/pocketsphinx/test/data/librivox}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVRIK_BUILD_BENCH=ON -DTAVRIK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target alignment_bench filler_conversation_bench tavrik-asr
"$build/bench/alignment/alignment_bench" "$model" "$clips" "$@"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/alignment/filler_conversation_bench" "$build/cli/tavrik-asr" "$model" "$work"
