#!/usr/bin/env bash
# Makes the recognition benchmark corpus in OUT_DIR (the same bytes on every run): festival conversations with word times, clean and with white noise at 20 dB SNR, espeak-ng conversations, and the LibriVox clips.
#
#   bench/recognition/make_corpus.sh OUT_DIR
#
# Per recording NAME: NAME.wav (16 kHz mono) and NAME.txt (the spoken words on one line, lower-case); for the
# festival ones also NAME.ref (`start end speaker word` per spoken word), NAME.turns (`start end P|C` per
# turn) and NAME.extra (`start word` per spoken word). OUT_DIR/sources.tsv names each recording's source.
# The conversations are texts/*.txt (`P text` / `C text` per turn). Festival recordings are named
# festival-TEXT-PVOICE-CVOICE (slt: cmu_us_slt_arctic_hts, kal: kal_diphone), their noisy copies
# festival-TEXT-PVOICE-CVOICE-snr20. RECOGNITION_BENCH names a built recognition_bench helper; otherwise it
# is built in BUILD_DIR (default build-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../build_targets.sh
source "$here/../build_targets.sh"
# shellcheck source=festival_turns.sh
source "$here/festival_turns.sh"
[[ $# -eq 1 ]] || { echo "usage: $0 OUT_DIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
librivox=${LIBRIVOX_DIR:-/usr/share/pocketsphinx/test/data/librivox}

helper=${RECOGNITION_BENCH:-}
if [[ -z $helper ]]; then
    build_bench_targets recognition_bench
    helper=$bench_build/bench/recognition/recognition_bench
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

texts=()
for text in "$here"/texts/*.txt; do
    texts+=("$(basename "$text" .txt)")
    if grep -q '["\\]' "$text"; then
        echo "$text: no double quotes or backslashes, please (they end festival's strings)" >&2
        exit 1
    fi
done

# Every turn of every text in both festival voices: TEXT-VOICE-NN.wav (16 kHz) and TEXT-VOICE-NN.words
# (`word start end punctuation phones` per word of festival's Word relation, in the turn's time).
for name in "${texts[@]}"; do
    for voice in slt kal; do
        festival_turns "$here/texts/$name.txt" "$voice" "$work/$name-$voice"
    done
done
# The fillers must be said as fillers, not spelt out: um as ah m, uh as ah, er as er.
if bad=$(cat "$work"/*.words | awk 'BEGIN { want["um"] = "ah+m"; want["uh"] = "ah"; want["er"] = "er" }
    { w = tolower($1) } (w in want) && $5 != want[w] { print; bad = 1 } END { exit !bad }'); then
    echo "festival says these fillers differently: $bad" >&2
    exit 1
fi

: >"$out/sources.tsv"
for name in "${texts[@]}"; do
    for pair in "slt kal" "kal slt"; do
        read -r p_voice c_voice <<<"$pair"
        rec=festival-$name-$p_voice-$c_voice
        n=0
        while read -r speaker line; do
            n=$((n + 1))
            voice=$([[ $speaker == P ]] && echo "$p_voice" || echo "$c_voice")
            base=$work/$name-$voice-$(printf %02d $n)
            echo "$speaker $base.wav $base.words"
        done <"$here/texts/$name.txt" >"$work/$rec.list"
        "$helper" join "$work/$rec.list" "$out/$rec"
        "$helper" noise "$out/$rec.wav" "$out/$rec.turns" 20 "$out/$rec-snr20.wav" >/dev/null
        for ext in txt ref turns extra; do
            cp "$out/$rec.$ext" "$out/$rec-snr20.$ext"
        done
        printf '%s\tfestival\n' "$rec" >>"$out/sources.tsv"
        printf '%s\tfestival-snr20\n' "$rec-snr20" >>"$out/sources.tsv"
    done
done

# espeak-ng reads festival's words (numbers already spelt out, punctuation kept), so both say the same words.
espeak_texts=("${texts[@]:0:2}")
espeak_voices=("en-us -s 165" "en+f2 -s 150")
k=0
for name in "${espeak_texts[@]}"; do
    rec=espeak-$name
    n=0
    while read -r speaker line; do
        n=$((n + 1))
        base=$work/$name-espeak-$(printf %02d $n)
        words=$work/$name-slt-$(printf %02d $n).words
        said=$(awk '{ printf "%s%s%s", (NR > 1 ? " " : ""), $1, ($4 == "0" ? "" : $4) }' "$words")
        c=0
        [[ $speaker == C ]] && c=1
        read -ra voice <<<"${espeak_voices[$(((k + c) % 2))]}"
        espeak-ng -v "${voice[@]}" -w "$base.raw.wav" "$said"
        sox -D "$base.raw.wav" -r 16000 -c 1 -b 16 "$base.wav"
        echo "$speaker $base.wav $words"
    done <"$here/texts/$name.txt" >"$work/$rec.list"
    "$helper" join "$work/$rec.list" "$out/$rec" --untimed
    printf '%s\tespeak\n' "$rec" >>"$out/sources.tsv"
    k=$((k + 1))
done

while read -r line; do
    id=$(sed -n 's/.*(\(.*\)).*/\1/p' <<<"$line")
    rec=librivox-${id##*-}
    cp "$librivox/$id.wav" "$out/$rec.wav"
    sed -e 's/<s>//; s/<\/s>//; s/(.*)//; s/^ *//; s/ *$//' <<<"$line" >"$out/$rec.txt"
    printf '%s\tlibrivox\n' "$rec" >>"$out/sources.tsv"
done <"$librivox/transcription"
