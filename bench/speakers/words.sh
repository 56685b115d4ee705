#!/usr/bin/env bash
# Word errors of the tool on speaker-corpus recordings, four ways: adaptation off, one transform for the
# whole recording (--speakers 1), each found voice adapted (the default), and the true turns given.
#
#   bench/speakers/words.sh CORPUS_DIR [FILTER]
#
# Prints per recording and in sum: words, errors each way, and the tool's seconds and peak memory in the
# default run. TOOL names the tool (else built by bench/recognition/setup.sh); THREADS (default 1) is passed on.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
CORPUS_DIR=${1:?usage: words.sh CORPUS_DIR [FILTER]}
filter=${2:-.}
source "$here/../recognition/setup.sh"
printf '%-34s %6s %7s %7s %7s %7s %7s %8s\n' recording words off one found turns wall_s rss_mib
grep -e "$filter" "$corpus/sources.tsv" | while IFS=$'\t' read -r name _ _; do
    wav=$corpus/$name.wav
    row=""
    for mode in off one found turns; do
        case $mode in
        off) extra=(--adapt off) ;;
        one) extra=(--speakers 1) ;;
        found) extra=(--speakers auto) ;;
        turns) extra=(--turns "$corpus/$name.turns") ;;
        esac
        run=$("$helper" run "$work/$name.$mode.json" "$tool" --asr "$model" --aligner "$model" --audio "$wav" \
            --threads "${THREADS:-1}" "${extra[@]}")
        score=$("$helper" score "$corpus/$name.txt" "$work/$name.$mode.json")
        row+=" $(field errors "$score")"
        words=$(field words "$score")
        [[ $mode == found ]] && found_run=$run
    done
    printf '%-34s %6s %7s %7s %7s %7s %7s %8s\n' "$name" "$words" $row "$(field wall "$found_run")" \
        "$(field rss_mib "$found_run")"
done | tee "$work/rows"
awk '{ w += $2; off += $3; one += $4; found += $5; turns += $6 }
     END { printf "%-34s %6d %6.2f%% %6.2f%% %6.2f%% %6.2f%%\n", "word error", w, 100 * off / w, 100 * one / w,
                  100 * found / w, 100 * turns / w }' "$work/rows"
