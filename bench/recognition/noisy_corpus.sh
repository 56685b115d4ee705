#!/usr/bin/env bash
# Makes the small noisy corpus the word confidence model is fitted and scored on, from a corpus made by
# make_corpus.sh: one conversation per text of festival (voices alternating) and both espeak-ng ones, their
# first SECONDS, and the LibriVox clips, each quiet, with white noise at 20 and 10 dB SNR, and with babble
# (four espeak-ng voices at once) at 10 dB SNR.
#
#   bench/recognition/noisy_corpus.sh CORPUS_DIR OUT_DIR [SECONDS]
#
# OUT_DIR/sources.tsv names each recording, its source (festival, espeak, librivox, each with -snr20,
# -snr10 or -babble) and its fold (the text it says; LibriVox clips spread over the folds), so that a
# model is scored on texts it was never fitted on. The reference words stay whole: a trimmed recording's
# missing words are deletions, which leave the rightness of its recognised words as it is.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[[ $# -ge 2 ]] || { echo "usage: $0 CORPUS_DIR OUT_DIR [SECONDS]" >&2; exit 2; }
corpus=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
seconds=${3:-35}
helper=${RECOGNITION_BENCH:-$root/build-bench/bench/recognition/recognition_bench}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Babble: four voices reading texts of their own at once, looped.
babble_texts=(
    "the kettle took ages to boil this morning so I read the paper twice and still missed the headline about the bridge"
    "we could paint the shed green if the weather holds but my brother says blue lasts longer near the sea"
    "after the concert they walked along the canal counting the narrow boats until the lights went out one by one"
    "she kept a list of every bird she saw that winter and the robin came back to the same fence post each day"
)
babble_voices=("en-us+m3 -s 160" "en+f3 -s 170" "en-gb+m1 -s 150" "en+f4 -s 180")
for i in 0 1 2 3; do
    read -ra voice <<<"${babble_voices[$i]}"
    espeak-ng -v "${voice[@]}" -w "$work/raw$i.wav" "${babble_texts[$i]}"
    sox -D "$work/raw$i.wav" -r 16000 -c 1 -b 16 "$work/one$i.wav"
    sox "$work/one$i.wav" "$work/loop$i.wav" repeat 6
done
sox -m "$work"/loop{0,1,2,3}.wav -b 16 "$work/babble.wav" trim 0 40

: >"$out/sources.tsv"
add() { # NAME SOURCE FOLD WAV TXT
    local name=$1 source=$2 fold=$3 wav=$4 txt=$5 length
    cp "$wav" "$out/$name.wav"
    cp "$txt" "$out/$name.txt"
    length=$(soxi -D "$wav")
    echo "0 $length P" >"$work/$name.turns"
    printf '%s\t%s\t%s\n' "$name" "$source" "$fold" >>"$out/sources.tsv"
    for noise in snr20 snr10 babble; do
        case $noise in
        snr20) "$helper" noise "$wav" "$work/$name.turns" 20 "$out/$name-$noise.wav" >/dev/null ;;
        snr10) "$helper" noise "$wav" "$work/$name.turns" 10 "$out/$name-$noise.wav" >/dev/null ;;
        babble) "$helper" noise "$wav" "$work/$name.turns" 10 "$out/$name-$noise.wav" "$work/babble.wav" >/dev/null ;;
        esac
        cp "$txt" "$out/$name-$noise.txt"
        printf '%s\t%s\t%s\n' "$name-$noise" "$source-$noise" "$fold" >>"$out/sources.tsv"
    done
}
pairs=(slt-kal kal-slt slt-kal)
k=0
for text in railway repair trip; do
    sox "$corpus/festival-$text-${pairs[$k]}.wav" "$work/f-$text.wav" trim 0 "$seconds"
    add "festival-$text" festival "$text" "$work/f-$text.wav" "$corpus/festival-$text-${pairs[$k]}.txt"
    k=$((k + 1))
    if [[ -s $corpus/espeak-$text.wav ]]; then
        sox "$corpus/espeak-$text.wav" "$work/e-$text.wav" trim 0 "$seconds"
        add "espeak-$text" espeak "$text" "$work/e-$text.wav" "$corpus/espeak-$text.txt"
    fi
done
folds=(railway repair trip)
k=0
for wav in "$corpus"/librivox-*.wav; do
    name=$(basename "$wav" .wav)
    add "$name" librivox "${folds[$((k % 3))]}" "$wav" "$corpus/$name.txt"
    k=$((k + 1))
done
