#!/usr/bin/env bash
# Words as people write them, on the written-words corpus (make_corpus.sh): each recording is decoded once
# with --plain-words and once as the tool writes by default, and scored against its written text. The first
# half of the conversations (c1 to c4) is the part the settings were tuned on; the rest is held out.
#
#   bench/written/run.sh CORPUS_DIR [OUT_DIR]
#
# Needs a build with -DTAVRIK_BUILD_BENCH=ON in BUILD_DIR (default build). Prints, per part: the share of
# rightly recognised words written exactly as the text writes them (words holding digits aside), sentence
# ends (precision, recall, F1), questions found, statements taken for questions, names written right, the
# same share for the plain words, and the written step's share of the run time; then whether the plain and
# the written runs have the same lower-cased words and times. With EXAMPLES=1 the misses are listed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[[ $# -ge 1 ]] || { echo "usage: $0 CORPUS_DIR [OUT_DIR]" >&2; exit 2; }
corpus=$(cd "$1" && pwd)
out=${2:-$(mktemp -d)}
mkdir -p "$out"
build=${BUILD_DIR:-$root/build}
asr=$build/cli/tavrik-asr
bench=$build/bench/written/written_bench
model=${MODEL_DIR:-/usr/share/pocketsphinx/model/en-us}
examples=()
[[ ${EXAMPLES:-0} == 1 ]] && examples=(--examples)

for wav in "$corpus"/*.wav; do
    name=$(basename "$wav" .wav)
    for kind in plain written; do
        [[ -s $out/$name.$kind.json ]] && continue
        flag=()
        [[ $kind == plain ]] && flag=(--plain-words)
        start=$(date +%s.%N)
        "$asr" --asr "$model" --aligner "$model" --audio "$wav" --threads 1 "${flag[@]}" \
            >"$out/$name.$kind.json" 2>/dev/null
        end=$(date +%s.%N)
        echo "$end - $start" | bc >"$out/$name.$kind.seconds"
    done
done

# The written step alone, timed on the plain words (the decoding is the rest of a run).
score() { # PART FILES...
    local part=$1
    shift
    local plain_counts written_counts step=0 run=0
    for name in "$@"; do
        "$bench" "${examples[@]}" "$corpus/$name.txt" "$out/$name.written.json"
        s=$(date +%s.%N)
        "$bench" "$corpus/$name.txt" "$out/$name.plain.json" "$corpus/$name.wav" >/dev/null
        e=$(date +%s.%N)
        step=$(echo "$step + $e - $s" | bc)
        run=$(echo "$run + $(cat "$out/$name.written.seconds")" | bc)
    done >"$out/$part.written.counts"
    for name in "$@"; do
        "$bench" "$corpus/$name.txt" "$out/$name.plain.json"
    done >"$out/$part.plain.counts"
    awk -v part="$part" -v step="$step" -v run="$run" -v plain="$(awk '{m+=$1; x+=$2} END {printf "%.1f", 100*x/m}' "$out/$part.plain.counts")" '
        { for (i = 1; i <= NF; i++) c[i] += $i }
        END {
            p = c[4] ? c[5] / c[4] : 0; r = c[3] ? c[5] / c[3] : 0
            printf "%-9s words %4d  exact %5.1f %% (plain %s %%)  ends P %.2f R %.2f F1 %.2f  questions %d/%d = %.0f %%  statements as questions %d/%d = %.1f %%  names %d/%d  step %.2f s of %.1f s\n",
                part, c[1], 100 * c[2] / c[1], plain, p, r, p + r ? 2 * p * r / (p + r) : 0,
                c[7], c[6], c[6] ? 100 * c[7] / c[6] : 0, c[9], c[8], c[8] ? 100 * c[9] / c[8] : 0, c[11], c[10], step, run
        }' "$out/$part.written.counts"
}
tuned=() held=()
for txt in "$corpus"/*.txt; do
    name=$(basename "$txt" .txt)
    case $name in c[1-4]) tuned+=("$name") ;; *) held+=("$name") ;; esac
done
score tuned "${tuned[@]}"
score held-out "${held[@]}"

# The written step changes only case and marks: lower-cased, mark-free words and their times are the same.
same=0 differ=0
for txt in "$corpus"/*.txt; do
    name=$(basename "$txt" .txt)
    if cmp -s <(tr 'A-Z' 'a-z' <"$out/$name.plain.json") \
        <(tr 'A-Z' 'a-z' <"$out/$name.written.json" | sed -E 's/([^"\\])[.?]"/\1"/g'); then
        same=$((same + 1))
    else
        differ=$((differ + 1))
    fi
done
echo "plain and written words the same but for case and marks: $same of $((same + differ)) recordings"
