#!/usr/bin/env bash
# Installs everything, builds the tool and runs it on a sample recording with the default English model.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_deps.sh
./scripts/build.sh build Release -DTAVRIK_BUILD_TESTS=OFF >/dev/null
model=/usr/share/pocketsphinx/model/en-us
sample=${1:-/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav}
echo "running: build/cli/tavrik-asr --asr $model --aligner $model --audio $sample" >&2
build/cli/tavrik-asr --asr "$model" --aligner "$model" --audio "$sample"
