#!/usr/bin/env bash
# Word confidence on the noisy corpus made by noisy_corpus.sh: per source, the area under the ROC curve of
# right against wrong words (auc), the expected calibration error (ece) and the share of the wrong words
# among the 20 % least confident (low20), for the shipped confidence and for the engine's confidence model
# fitted on every fold but one and scored on that one (held out), over growing sets of the model's inputs.
#
#   CORPUS_DIR=DIR bench/recognition/confidence.sh [ROWS_DIR]
#
# ROWS_DIR keeps one rows file per recording (reused when there: delete it to measure again); two
# recordings are decoded at a time (JOBS). INPUTS lists the input sets to try, separated by spaces
# (default: growing from the best-path posterior to all ten, in the order of docs/benchmarks.md).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
model=${MODEL_DIR:-/usr/share/pocketsphinx/model/en-us}
# shellcheck source=../build_targets.sh
source "$root/bench/build_targets.sh"
build_bench_targets confidence_bench
bench=$bench_build/bench/recognition/confidence_bench
corpus=${CORPUS_DIR:?name the corpus made by noisy_corpus.sh}
rows=${1:-$(mktemp -d)}
mkdir -p "$rows"

export bench model corpus rows
cut -f1 "$corpus/sources.tsv" | xargs -P"${JOBS:-2}" -I{} sh -c \
    '[ -s "$rows/{}.rows" ] || { "$bench" words "$model" "$corpus/{}.wav" "$corpus/{}.txt" >"$rows/{}.tmp" &&
      mv "$rows/{}.tmp" "$rows/{}.rows"; }'

args=$(awk -F'\t' -v d="$rows" '{ printf "%s:%s:%s/%s.rows ", $3, $2, d, $1 }' "$corpus/sources.tsv")
for inputs in ${INPUTS:-0 0,1 0,1,3 0,1,3,4 0,1,3,4,5 0,1,3,4,5,6 0,1,3,4,5,6,7 0,1,3,4,5,6,7,9 0,1,2,3,4,5,6,7,8,9}; do
    echo "inputs $inputs"
    # shellcheck disable=SC2086
    "$bench" cv "$inputs" $args
    echo
done
