#!/usr/bin/env bash
# Speaker finding on the speaker corpus: per recording and per group (part, kind, pair, noise), voices
# found against spoken, words given the wrong speaker, diarization error (0.25 s collar) and cost.
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
grep -e "$filter" "$corpus/sources.tsv" | while IFS=$'\t' read -r rec part kind n; do
    printf '%s\t%s\t%s\t%s\t%s\n' "$rec" "$part" "$kind" "$n" "$(nice -n 10 "$bench" "$corpus/$rec.wav" "$corpus/$rec.ref" "$@")"
done | awk -F'\t' '
    function field(s, k,   m) { return match(s, k "=[^ ]*") ? substr(s, RSTART + length(k) + 1, RLENGTH - length(k) - 1) : "" }
    # The group of a recording: its part and kind, for two voices the sexes of the pair, and its noise.
    function group(rec, part, kind, n,   t, i, women, noise) {
        split(rec, t, "-")
        noise = "clean"
        for (i in t) {
            if (t[i] ~ /^(white|pink|babble)[0-9]+$/) noise = t[i]
            if (t[i] == "slt" || t[i] == "ef") women++
        }
        if (kind == "solo" || kind == "reader") return part " one-voice " noise
        if (n > 2) return part " " n "-voices " noise
        if (kind == "long" || kind == "word") return part " " kind "-turns " noise
        return part " " kind (women == 2 ? " two-women " : women == 1 ? " woman-man " : " two-men ") noise (rec ~ /extra/ ? " (pitch copy)" : "")
    }
    {
        print $1, $5
        g = group($1, $2, $3, $4)
        split(field($5, "words"), w, "/")
        wrong[g] += w[1]; words[g] += w[2]; n[g]++
        right[g] += field($5, "found") == field($5, "true")
        der[g] += field($5, "der") * field($5, "scored_s"); scored[g] += field($5, "scored_s")
        cpu += field($5, "cpu_s"); audio += field($5, "audio_s")
        if (!(g in seen)) { seen[g] = 1; order[++groups] = g }
        p = $2; allwrong[p] += w[1]; allwords[p] += w[2]; alln[p]++; allright[p] += field($5, "found") == field($5, "true")
    }
    END {
        printf "\n%-36s %5s %14s %9s %12s\n", "group", "recs", "wrong words", "DER", "count right"
        for (i = 1; i <= groups; i++) {
            g = order[i]
            printf "%-36s %5d %8d/%-5d %8.2f%% %7d/%-4d\n", g, n[g], wrong[g], words[g], scored[g] ? 100 * der[g] / scored[g] : 0, right[g], n[g]
        }
        for (p in alln) printf "%-36s %5d %8d/%-5d %9s %7d/%-4d\n", p " all", alln[p], allwrong[p], allwords[p], "", allright[p], alln[p]
        printf "cost: %.3f CPU s per audio minute (%.1f s of audio)\n", cpu / (audio / 60), audio
    }'
