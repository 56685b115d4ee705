#!/usr/bin/env bash
# Installs everything, builds the tool and runs it on a sample recording with the default English model.
#
# The tool is built in `build` with the same build type as test.sh, and only the tool's own target, so that
# running either script after the other rebuilds nothing and leaves the other's settings alone.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_deps.sh
TAVRIK_TARGETS=tavrik-asr ./scripts/build.sh build RelWithDebInfo >/dev/null
model=/usr/share/pocketsphinx/model/en-us
sample=${1:-/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav}
echo "running: build/cli/tavrik-asr --asr $model --aligner $model --audio $sample" >&2
build/cli/tavrik-asr --asr "$model" --aligner "$model" --audio "$sample"
