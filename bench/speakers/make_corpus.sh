#!/usr/bin/env bash
# Makes the speaker-finding corpus in OUT_DIR (the same bytes on every run), in two parts with different
# texts: "tune" (trip, railway) for choosing settings and "test" (repair, garden) held out for reporting.
#
#   bench/speakers/make_corpus.sh OUT_DIR
#
# Voices: festival's slt (woman), kal and ked (men); espeak-ng's en-us+f2 (woman, "ef"), en-us+m3 and
# en-gb-scotland+m1 (men, "em1", "em2"); kal raised by four semitones ("kah") only in recordings marked
# extra. Every line of every text is said in every voice once; a recording takes the lines of its part's
# texts in order (again from the first when it needs more, so long recordings repeat content) until its
# speech reaches its length.
#
# Per recording NAME: NAME.wav, NAME.txt, NAME.ref (`start end speaker word`), NAME.turns, NAME.extra, as
# the recognition corpus writes them, the speaker being the voice's name. sources.tsv: NAME, part (tune or
# test), kind, voice count. Kinds: pause (0.3 to 1.5 s between turns), quick (-0.1 to 0.2 s from the last
# word to the next turn's first: some overlap), word (quick, every third turn one word), long (pause, 2 to
# 10 lines per turn: up to a minute), solo (one voice), reader (a LibriVox reader's clips joined, word
# times spread evenly over each clip); a noise suffix -white20, -pink10, -babble20 ... (babble: six other
# espeak-ng voices at once, none of them in the conversations). espeak-ng turns have their words spread
# evenly over the turn. RECOGNITION_BENCH and NOISE_MIX name built helpers (else they are built in
# BUILD_DIR, default build-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../build_targets.sh
source "$here/../build_targets.sh"
# shellcheck source=../recognition/festival_turns.sh
source "$here/../recognition/festival_turns.sh"
root=$(cd "$here/../.." && pwd)
[[ $# -eq 1 ]] || { echo "usage: $0 OUT_DIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
librivox=${LIBRIVOX_DIR:-/usr/share/pocketsphinx/test/data/librivox}
helper=${RECOGNITION_BENCH:-}
mixer=${NOISE_MIX:-}
if [[ -z $helper || -z $mixer ]]; then
    build_bench_targets recognition_bench noise_mix
    helper=$bench_build/bench/recognition/recognition_bench
    mixer=$bench_build/bench/speakers/noise_mix
fi
work=${WORK_DIR:-$(mktemp -d)}
mkdir -p "$work"
[[ -n ${WORK_DIR:-} ]] || trap 'rm -rf "$work"' EXIT

declare -A text_file=([trip]=$root/bench/recognition/texts/trip.txt [railway]=$root/bench/recognition/texts/railway.txt
    [repair]=$root/bench/recognition/texts/repair.txt [garden]=$here/garden.txt [short]=$here/short_turns.txt)
declare -A espeak_voice=([ef]="en-us+f2 -s 150" [em1]="en-us+m3 -s 165" [em2]="en-gb-scotland+m1 -s 155")
babble_voices=("en+m5 -s 170" "en+f4 -s 160" "en-gb+m2 -s 150" "en+f3 -s 175" "en-us+m6 -s 160" "en+f5 -s 155")

# Words spread evenly over a WAV's length (less 0.1 s at each end), as `word start end` lines.
spread_words() { # WAV TEXT
    local length
    length=$(soxi -D "$1")
    tr -d '.,?!' <<<"$2" | tr ' ' '\n' | awk -v l="$length" 'NF { w[++n] = $1 }
        END { step = (l - 0.2) / n; for (i = 1; i <= n; i++) printf "%s %.3f %.3f\n", w[i], 0.1 + (i - 1) * step, 0.1 + i * step }'
}

# The pool: TEXT-VOICE-NN.wav, .words and .len (seconds) for every line in every voice.
if [[ ! -e $work/pool.done ]]; then
    for name in "${!text_file[@]}"; do
        for voice in slt kal ked; do
            festival_turns "${text_file[$name]}" "$voice" "$work/$name-$voice"
        done
        for ((i = 1; i <= $(wc -l <"${text_file[$name]}"); i++)); do
            sox -D "$work/$name-kal-$(printf %02d "$i").wav" "$work/$name-kah-$(printf %02d "$i").wav" pitch 400
            cp "$work/$name-kal-$(printf %02d "$i").words" "$work/$name-kah-$(printf %02d "$i").words"
        done
        for voice in ef em1 em2; do
            n=0
            while read -r _ line; do
                n=$((n + 1))
                base=$work/$name-$voice-$(printf %02d $n)
                read -ra v <<<"${espeak_voice[$voice]}"
                espeak-ng -v "${v[@]}" -w "$base.raw.wav" "$line"
                sox -D "$base.raw.wav" -r 16000 -c 1 -b 16 "$base.wav" silence 1 0.02 -50d reverse silence 1 0.02 -50d reverse pad 0.05 0.05
                spread_words "$base.wav" "$line" >"$base.words"
            done <"${text_file[$name]}"
        done
    done
    for f in "$work"/*-??.wav; do
        soxi -D "$f" >"${f%.wav}.len"
    done
    # Babble: six voices each reading every text without pauses, all at once, the first five minutes.
    streams=()
    for ((b = 0; b < ${#babble_voices[@]}; b++)); do
        read -ra v <<<"${babble_voices[$b]}"
        all=$(cat "${text_file[trip]}" "${text_file[garden]}" "${text_file[railway]}" "${text_file[repair]}" | cut -d' ' -f2- |
            awk -v b="$b" '{ l[NR] = $0 } END { for (i = 0; i < NR; i++) print l[(i + 7 * b) % NR + 1] }')
        espeak-ng -v "${v[@]}" -w "$work/babble-$b.raw.wav" "$all $all"
        sox -D "$work/babble-$b.raw.wav" -r 16000 -c 1 -b 16 "$work/babble-$b.wav" trim 0 300
        streams+=("$work/babble-$b.wav")
    done
    sox -D -m "${streams[@]}" "$work/babble.wav" norm -3
    sox -D -R -n -r 16000 -b 16 -c 1 "$work/pink.wav" synth 300 pinknoise vol 0.5
    touch "$work/pool.done"
fi

# make_recording NAME PART KIND SECONDS NOISE VOICE...: the conversation, then its noise.
make_recording() {
    local name=$1 part=$2 kind=$3 seconds=$4 noise=$5
    shift 5
    local voices=("$@") texts
    [[ $part == tune ]] && texts=(trip railway) || texts=(repair garden)
    local lines=()
    for t in "${texts[@]}"; do
        local n
        n=$(wc -l <"${text_file[$t]}")
        for ((i = 1; i <= n; i++)); do
            lines+=("$t-%s-$(printf %02d "$i")")
        done
    done
    RANDOM=$(cksum <<<"$name" | cut -d' ' -f1)
    local said=0 k=0 turn=0 voice=-1 list=$work/$name.list
    : >"$list"
    while awk -v s="$said" -v l="$seconds" 'BEGIN { exit !(s < l) }'; do
        # The next turn's voice: in turn for two, any other for more.
        if ((${#voices[@]} == 1)); then
            voice=0
        elif ((${#voices[@]} == 2)); then
            voice=$(((voice + 1) % 2))
        else
            local next=$((RANDOM % (${#voices[@]} - 1)))
            ((voice >= 0 && next >= voice)) && next=$((next + 1))
            voice=$next
        fi
        local who=${voices[$voice]} n_lines=1
        [[ $kind == long* ]] && n_lines=$((2 + RANDOM % 9))
        for ((j = 0; j < n_lines; j++)); do
            local base
            if [[ $kind == word* && $((turn % 3)) == 1 ]]; then
                base=$work/$(printf "short-%s-%02d" "$who" $((1 + RANDOM % 8)))
            else
                # shellcheck disable=SC2059
                base=$work/$(printf "${lines[$((k % ${#lines[@]}))]}" "$who")
                k=$((k + 1))
            fi
            echo "$who $base.wav $base.words" >>"$list"
            said=$(awk -v s="$said" -v l="$(cat "$base.len")" 'BEGIN { print s + l }')
        done
        turn=$((turn + 1))
    done
    case $kind in
    quick* | word*) "$helper" join "$list" "$out/$name" --gaps -0.1 0.2 ;;
    *) "$helper" join "$list" "$out/$name" ;;
    esac
    add_noise "$name" "$noise"
    printf '%s\t%s\t%s\t%d\n' "$name" "$part" "$kind" "${#voices[@]}" >>"$out/sources.tsv"
}

# add_noise NAME NOISE: NOISE is clean, or white|pink|babble followed by the SNR in dB.
add_noise() {
    local name=$1 noise=$2
    [[ $noise == clean ]] && return 0
    local snr=${noise//[a-z]/} offset
    offset=$(($(cksum <<<"$name" | cut -d' ' -f1) % 240))
    if [[ $noise == white* ]]; then
        "$helper" noise "$out/$name.wav" "$out/$name.turns" "$snr" "$work/noisy.wav" >/dev/null
    else
        "$mixer" "$out/$name.wav" "$out/$name.turns" "$work/${noise//[0-9]/}.wav" "$snr" "$offset" "$work/noisy.wav" >/dev/null
    fi
    mv "$work/noisy.wav" "$out/$name.wav"
}

: >"$out/sources.tsv"
for part in tune test; do
    # Every pair, both kinds of turn-taking: woman/man, two men, two women, across the two engines.
    for pair in slt,kal slt,ked kal,ked ef,em1 em1,em2 slt,ef kal,em2; do
        for kind in pause quick; do
            len=$((60 + $(cksum <<<"$part$pair$kind" | cut -d' ' -f1) % 90))
            make_recording "$part-$kind-${pair/,/-}" "$part" "$kind" "$len" clean ${pair//,/ }
        done
    done
    # Noise under one pair of each kind.
    for pair in slt,kal kal,ked slt,ef; do
        for noise in white20 pink20 babble20 white10 pink10 babble10; do
            make_recording "$part-pause-${pair/,/-}-$noise" "$part" pause 50 "$noise" ${pair//,/ }
        done
        make_recording "$part-quick-${pair/,/-}-white20" "$part" quick 50 white20 ${pair//,/ }
    done
    # Turn lengths: one word, up to a minute.
    make_recording "$part-word-kal-ked" "$part" word 60 clean kal ked
    make_recording "$part-word-slt-em1" "$part" word 45 clean slt em1
    make_recording "$part-long-kal-ked" "$part" long 180 clean kal ked
    make_recording "$part-long-slt-ef" "$part" long 240 clean slt ef
    # Three to five voices.
    make_recording "$part-pause-slt-kal-ked" "$part" pause 120 clean slt kal ked
    make_recording "$part-quick-slt-kal-ked" "$part" quick 90 clean slt kal ked
    make_recording "$part-quick-kal-ked-em1-babble20" "$part" quick 90 babble20 kal ked em1
    make_recording "$part-pause-slt-kal-ked-em1" "$part" pause 150 clean slt kal ked em1
    make_recording "$part-pause-slt-kal-ked-em1-ef" "$part" pause 200 clean slt kal ked em1 ef
    # One voice, every length.
    for voice in slt kal ked ef em1 em2; do
        len=$((30 + $(cksum <<<"$part$voice" | cut -d' ' -f1) % 150))
        make_recording "$part-solo-$voice" "$part" solo "$len" clean "$voice"
    done
    make_recording "$part-solo-kal-300" "$part" solo 300 clean kal
    make_recording "$part-solo-slt-white20" "$part" solo 90 white20 slt
    make_recording "$part-solo-ked-babble10" "$part" solo 90 babble10 ked
    # Pitch-shifted copy: an extra same-voice pair.
    make_recording "$part-quick-kal-kah-extra" "$part" quick 60 clean kal kah
done
# Long recordings: ten minutes of two men, twelve of one voice (held out).
make_recording test-pause-kal-ked-600 test pause 600 clean kal ked
make_recording test-solo-ked-720 test solo 720 clean ked

# A LibriVox reader: the clips joined (tune), repeated to 99 s and to 5 minutes (test).
n=0
for id in $(cut -d' ' -f1 "$librivox/fileids" 2>/dev/null || ls "$librivox" | sed -n 's/\.wav$//p'); do
    [[ -e $librivox/$id.wav ]] || continue
    n=$((n + 1))
    base=$work/reader-$(printf %02d $n)
    cp "$librivox/$id.wav" "$base.wav"
    text=$(grep "($id)" "$librivox/transcription" | sed -e 's/<s>//; s/<\/s>//; s/(.*)//')
    spread_words "$base.wav" "$text" >"$base.words"
done
for reps in 1:tune 4:test 12:test; do
    r=${reps%%:*}
    part=${reps##*:}
    name=$part-reader-x$r
    for ((j = 0; j < r; j++)); do
        for ((i = 1; i <= n; i++)); do
            echo "reader $work/reader-$(printf %02d $i).wav $work/reader-$(printf %02d $i).words"
        done
    done >"$work/$name.list"
    "$helper" join "$work/$name.list" "$out/$name"
    printf '%s\t%s\treader\t1\n' "$name" "$part" >>"$out/sources.tsv"
done
