#!/usr/bin/env bash
# Regenerates engine/speakers/voice_projection.cpp: the directions of the stored cepstra that carry the voice
# rather than what is said, learnt from espeak-ng voices that none of the speaker corpus uses, each saying
# bench/speakers/projection_text.txt (a text of its own).
#
#   bench/speakers/train_projection.sh WORK_DIR [METHOD] [CHUNK_FRAMES]
#
# METHOD: nap (default) or lda, see train_projection.cpp; CHUNK_FRAMES: speech frames per chunk (150).
# WORK_DIR receives the recordings. The engine keeps the first rows (n_voice_cepstra in cepstra.h).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:?usage: train_projection.sh WORK_DIR [METHOD] [CHUNK_FRAMES]}
method=${2:-nap}
chunk=${3:-150}
mkdir -p "$work"
# shellcheck source=../build_targets.sh
source "$here/../build_targets.sh"
build_bench_targets train_projection
accents=(en-gb en-gb-x-rp en-us en-029 en-gb-scotland en-us-nyc en-gb-x-gbclan en-gb-x-gbcwmd)
variants=(m1 m2 m4 m7 m8 f1 f2 f3 klatt2 klatt4 Andy aunty david linda)
# The corpus' voices (en-us+f2, en-us+m3, en-gb-scotland+m1; babble en+m5, en+f4, en-gb+m2, en+f3,
# en-us+m6, en+f5; en is en-gb) are never used.
used=" en-us+f2 en-us+m3 en-gb-scotland+m1 en-gb+m5 en-gb+f4 en-gb+m2 en-gb+f3 en-us+m6 en-gb+f5 "
list=$work/voices.tsv
: >"$list"
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
    done
done
"$bench_build/bench/speakers/train_projection" "$method" "$chunk" "$list" >"$here/../../engine/speakers/voice_projection.cpp"
