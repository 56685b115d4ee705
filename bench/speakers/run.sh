#!/usr/bin/env bash
# Speaker finding on the speaker corpus: per recording and per part (kind, noise), voices found against
# spoken, words given the wrong speaker, diarization error (0.25 s collar) and cost.
#
#   bench/speakers/run.sh CORPUS_DIR [FILTER] [N] [SETTING=VALUE ...]
#
# CORPUS_DIR is made by bench/speakers/make_corpus.sh; FILTER (a grep pattern, default: all) picks recordings
# by name. SPEAKER_BENCH names a built speaker_bench (else it is built in BUILD_DIR, default build-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=${1:?usage: run.sh CORPUS_DIR [FILTER] [SETTING=VALUE ...]}
filter=${2:-.}
shift $(($# < 2 ? $# : 2))
bench=${SPEAKER_BENCH:-}
if [[ -z $bench ]]; then
    # shellcheck source=../build_targets.sh
    source "$here/../build_targets.sh"
    build_bench_targets speaker_bench
    bench=$bench_build/bench/speakers/speaker_bench
fi
grep -e "$filter" "$corpus/sources.tsv" | while IFS=$'\t' read -r rec part n; do
    printf '%s\t%s\t%s\n' "$rec" "$part" "$("$bench" "$corpus/$rec.wav" "$corpus/$rec.ref" "$@")"
done | awk -F'\t' '
    function field(s, k,   m) { return match(s, k "=[^ ]*") ? substr(s, RSTART + length(k) + 1, RLENGTH - length(k) - 1) : "" }
    {
        print $1, $3
        part = $2 (field($3, "true") > 2 ? "-" field($3, "true") "voices" : (field($3, "true") == 1 ? "-1voice" : ""))
        split(field($3, "words"), w, "/")
        wrong[part] += w[1]; words[part] += w[2]; n[part]++
        right[part] += field($3, "found") == field($3, "true")
        der[part] += field($3, "der") * field($3, "scored_s"); scored[part] += field($3, "scored_s")
        cpu += field($3, "cpu_s"); audio += field($3, "audio_s")
        if (!(part in seen)) { seen[part] = 1; order[++parts] = part }
    }
    END {
        printf "\n%-22s %5s %14s %9s %12s\n", "part", "recs", "wrong words", "DER", "count right"
        for (i = 1; i <= parts; i++) {
            p = order[i]
            printf "%-22s %5d %8d/%-5d %8.2f%% %7d/%-4d\n", p, n[p], wrong[p], words[p], 100 * der[p] / scored[p], right[p], n[p]
        }
        printf "cost: %.3f CPU s per audio minute (%.1f s of audio)\n", cpu / (audio / 60), audio
    }'
