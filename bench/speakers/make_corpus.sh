#!/usr/bin/env bash
# Makes the speaker-finding corpus in OUT_DIR (the same bytes on every run) from the recognition texts
# (bench/recognition/texts): conversations whose turns are said by festival voices (slt, kal, ked, and kal
# raised by four semitones with sox, "kah"), joined with pauses or with quick turn-taking, each also with
# white noise at 20 dB SNR.
#
#   bench/speakers/make_corpus.sh OUT_DIR
#
# Per recording NAME: NAME.wav, NAME.txt, NAME.ref (`start end speaker word`), NAME.turns, NAME.extra, as
# the recognition corpus writes them, the speaker being the voice's number in the conversation. NAME is
# TEXT-KIND-VOICES: KIND "pause" (0.3 to 1.5 s between turns) or "quick" (-0.1 to 0.2 s from the last word
# to the next turn's first: some turns overlap); VOICES the voices in turn order, turn k said by voice
# k mod their count. RECOGNITION_BENCH names a built recognition_bench helper (else it is built in
# BUILD_DIR, default build-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../build_targets.sh
source "$here/../build_targets.sh"
# shellcheck source=../recognition/festival_turns.sh
source "$here/../recognition/festival_turns.sh"
root=$(cd "$here/../.." && pwd)
texts_dir=$root/bench/recognition/texts
[[ $# -eq 1 ]] || { echo "usage: $0 OUT_DIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
helper=${RECOGNITION_BENCH:-}
if [[ -z $helper ]]; then
    build_bench_targets recognition_bench
    helper=$bench_build/bench/recognition/recognition_bench
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

texts=()
for text in "$texts_dir"/*.txt; do
    texts+=("$(basename "$text" .txt)")
done

# Every turn in every voice: TEXT-VOICE-NN.wav and .words.
for name in "${texts[@]}"; do
    for voice in slt kal ked; do
        festival_turns "$texts_dir/$name.txt" "$voice" "$work/$name-$voice"
    done
    for ((i = 1; i <= $(wc -l <"$texts_dir/$name.txt"); i++)); do
        base=$work/$name-kal-$(printf %02d $i)
        high=$work/$name-kah-$(printf %02d $i)
        sox -D "$base.wav" "$high.wav" pitch 400
        cp "$base.words" "$high.words"
    done
done

# Conversations: KIND VOICES (comma-separated), the same for every text.
conversations=(
    "pause slt,kal" "pause kal,ked" "quick slt,kal" "quick kal,ked" "quick kal,kah"
    "quick slt,kal,ked" "pause slt,kal,ked,kah" "quick slt,kal,ked,kah"
    "quick slt" "quick kal"
)
: >"$out/sources.tsv"
for name in "${texts[@]}"; do
    for c in "${conversations[@]}"; do
        read -r kind voice_list <<<"$c"
        IFS=, read -ra voices <<<"$voice_list"
        rec=$name-$kind-${voice_list//,/-}
        n=0
        while read -r _ _; do
            k=$((n % ${#voices[@]}))
            n=$((n + 1))
            echo "$((k + 1)) $work/$name-${voices[$k]}-$(printf %02d $n).wav $work/$name-${voices[$k]}-$(printf %02d $n).words"
        done <"$texts_dir/$name.txt" >"$work/$rec.list"
        if [[ $kind == pause ]]; then
            "$helper" join "$work/$rec.list" "$out/$rec"
        else
            "$helper" join "$work/$rec.list" "$out/$rec" --gaps -0.1 0.2
        fi
        "$helper" noise "$out/$rec.wav" "$out/$rec.turns" 20 "$out/$rec-snr20.wav" >/dev/null
        for ext in txt ref turns extra; do
            cp "$out/$rec.$ext" "$out/$rec-snr20.$ext"
        done
        printf '%s\t%s\t%d\n' "$rec" "$kind" "${#voices[@]}" >>"$out/sources.tsv"
        printf '%s\t%s-snr20\t%d\n' "$rec-snr20" "$kind" "${#voices[@]}" >>"$out/sources.tsv"
    done
done
