#!/usr/bin/env bash
# Regenerates engine/speakers/voice_projection.cpp: the directions of the stored cepstra that carry the voice
# rather than what is said, learnt from espeak-ng voices that none of the speaker corpus uses, each saying
# bench/speakers/projection_text.txt (a text of its own).
#
#   bench/speakers/train_projection.sh WORK_DIR [METHOD] [CHUNK_FRAMES] [NOISE]
#
# METHOD: nap (default) or lda, see train_projection.cpp; CHUNK_FRAMES: speech frames per chunk (150); NOISE:
# clean (default, what the engine's directions were learnt from) or noisy, which adds each voice again under
# white, pink and babble noise at 20 and 10 dB, so that what noise moves counts as within a voice too (babble:
# six more voices outside the corpus, reading the text's lines in another order).
# WORK_DIR receives the recordings. The engine keeps the first rows (n_voice_cepstra in cepstra.h).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:?usage: train_projection.sh WORK_DIR [METHOD] [CHUNK_FRAMES] [NOISE]}
method=${2:-nap}
chunk=${3:-150}
noise=${4:-clean}
mkdir -p "$work"
# shellcheck source=../build_targets.sh
source "$here/../build_targets.sh"
build_bench_targets train_projection noise_mix
accents=(en-gb en-gb-x-rp en-us en-029 en-gb-scotland en-us-nyc en-gb-x-gbclan en-gb-x-gbcwmd)
variants=(m1 m2 m4 m7 m8 f1 f2 f3 klatt2 klatt4 Andy aunty david linda)
# The corpus' voices (en-us+f2, en-us+m3, en-gb-scotland+m1; babble en+m5, en+f4, en-gb+m2, en+f3,
# en-us+m6, en+f5; en is en-gb) are never used.
used=" en-us+f2 en-us+m3 en-gb-scotland+m1 en-gb+m5 en-gb+f4 en-gb+m2 en-gb+f3 en-us+m6 en-gb+f5 "
list=$work/voices.tsv
: >"$list"
# Noise pool, five minutes each.
if [[ $noise == noisy && ! -s $work/babble.wav ]]; then
    babble_voices=(en-us+m1 en-us+m4 en-gb-x-rp+m1 en-029+f4 en-gb-scotland+f4 en-us-nyc+m1)
    streams=()
    for ((b = 0; b < ${#babble_voices[@]}; b++)); do
        tac "$here/projection_text.txt" | awk -v b="$b" '{ l[NR] = $0 } END { for (i = 0; i < NR; i++) print l[(i + 3 * b) % NR + 1] }' >"$work/babble-$b.txt"
        espeak-ng -v "${babble_voices[$b]}" -s $((150 + 5 * b)) -f "$work/babble-$b.txt" -w "$work/babble-$b.raw.wav"
        sox -D "$work/babble-$b.raw.wav" -r 16000 -c 1 -b 16 "$work/babble-$b.wav" repeat 3 trim 0 300
        streams+=("$work/babble-$b.wav")
    done
    sox -D -m "${streams[@]}" "$work/babble.wav" norm -3
    sox -D -R -n -r 16000 -b 16 -c 1 "$work/pink.wav" synth 300 pinknoise vol 0.5
    sox -D -R -n -r 16000 -b 16 -c 1 "$work/white.wav" synth 300 whitenoise vol 0.5
fi
for ((a = 0; a < ${#accents[@]}; a++)); do
    for ((j = 0; j < 8; j++)); do
        voice=${accents[$a]}+${variants[$(((3 * a + j) % ${#variants[@]}))]}
        [[ $used == *" $voice "* ]] && continue
        speed=$((140 + (7 * a + 5 * j) % 40))
        if [[ ! -s $work/$voice.wav ]]; then
            espeak-ng -v "$voice" -s "$speed" -f "$here/projection_text.txt" -w "$work/$voice.raw.wav"
            sox -D "$work/$voice.raw.wav" -r 16000 -c 1 -b 16 "$work/$voice.wav"
            rm "$work/$voice.raw.wav"
        fi
        printf '%s\t%s\n' "$voice" "$work/$voice.wav" >>"$list"
        [[ $noise == noisy ]] || continue
        printf '0 %s 1\n' "$(soxi -D "$work/$voice.wav")" >"$work/$voice.turns"
        for kind in white20 pink20 babble20 white10 pink10 babble10; do
            noisy=$work/$voice-$kind.wav
            if [[ ! -s $noisy ]]; then
                "$bench_build/bench/speakers/noise_mix" "$work/$voice.wav" "$work/$voice.turns" "$work/${kind//[0-9]/}.wav" \
                    "${kind//[a-z]/}" $(((11 * a + 7 * j) % 240)) "$noisy" >/dev/null
            fi
            # Frames are picked by the clean recording's levels.
            printf '%s\t%s\t%s\n' "$voice" "$noisy" "$work/$voice.wav" >>"$list"
        done
    done
done
"$bench_build/bench/speakers/train_projection" "$method" "$chunk" "$list" >"$here/../../engine/speakers/voice_projection.cpp"
