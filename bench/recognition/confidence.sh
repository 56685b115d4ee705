#!/usr/bin/env bash
# Word confidence on the recognition corpus: per source, the area under the ROC curve of right against wrong
# words, the expected calibration error and the share of the wrong words among the 20 % least confident, for
# the raw lattice posterior and for the calibrated confidence the tool prints.
#
#   CORPUS_DIR=DIR bench/recognition/confidence.sh [ROWS_DIR]
#
# ROWS_DIR keeps one rows file per recording (reused when there: delete it to measure again). The festival
# conversations are also scored held out: the map is fitted on the conversations of two texts and scored on
# the third, for each text in turn (the fit printed last is the one on all of them, as shipped).
# SOURCES limits the sources (default: festival festival-snr20 espeak librivox).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
model=${MODEL_DIR:-/usr/share/pocketsphinx/model/en-us}
# shellcheck source=../build_targets.sh
source "$root/bench/build_targets.sh"
build_bench_targets confidence_bench
bench=$bench_build/bench/recognition/confidence_bench
corpus=${CORPUS_DIR:?name the corpus made by make_corpus.sh}
rows=${1:-$(mktemp -d)}
mkdir -p "$rows"
sources=${SOURCES:-festival festival-snr20 espeak librivox}

while IFS=$'\t' read -r name source; do
    [[ " $sources " == *" $source "* ]] || continue
    [[ -s $rows/$name.rows ]] || "$bench" words "$model" "$corpus/$name.wav" "$corpus/$name.txt" >"$rows/$name.rows"
done <"$corpus/sources.tsv"

printf '%-24s %6s %6s   %-17s   %-17s\n' "" "" "" "raw posterior" "calibrated"
printf '%-24s %6s %6s   %5s %5s %5s   %5s %5s %5s\n' source words wrong% auc ece low20 auc ece low20
for source in $sources; do
    files=$(awk -F'\t' -v s="$source" -v d="$rows" '$2 == s { printf "%s/%s.rows ", d, $1 }' "$corpus/sources.tsv")
    [[ -n $files ]] && "$bench" score "$source" $files
done
echo
echo "held out: fitted on the festival conversations of the other two texts (quiet and 20 dB together);"
echo "the raw columns are then the held-out calibrated confidences"
held=$(mktemp -d)
texts=$(awk -F'\t' '$2 == "festival" { split($1, p, "-"); print p[2] }' "$corpus/sources.tsv" | sort -u)
for text in $texts; do
    train=$(ls "$rows"/festival-*.rows | grep -v -- "-$text-" || true)
    for test in "$rows"/festival-"$text"-*.rows; do
        "$bench" apply "$test" --fit-on $train >"$held/$(basename "$test")"
    done
done
"$bench" score "festival held out" $(ls "$held"/*.rows | grep -v snr20)
"$bench" score "festival-snr20 held out" "$held"/*-snr20.rows
rm -rf "$held"
echo
echo "the map fitted on all festival conversations (the engine's knots):"
"$bench" fit "$rows"/festival-*.rows
