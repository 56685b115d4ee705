#!/usr/bin/env bash
# Makes the transcript benchmark corpus in OUT_DIR: festival conversations of bench/transcript/texts (P said
# by one voice, C by another, 0.4 s between turns), each with the exact transcript, a transcript that
# differs from the audio, and a copy with white noise at 20 dB SNR.
#
#   bench/transcript/make_corpus.sh OUT_DIR
#
# Per recording NAME: NAME.wav, NAME.truth (`start end word` per spoken word, from festival's Word relation),
# NAME.txt (the exact transcript: `P: words` per turn, the truth's words with festival's punctuation),
# NAME.mis.txt (the differing one) and NAME.mis.tags (per word of it: `kept TRUTH_INDEX`, `replaced`,
# `inserted` or `extra`), NAME-snr20.wav. LONG=1 adds "long", all the texts of this folder and of
# bench/recognition/texts in one conversation. ONLY="NAME ..." makes only the recordings named. NOISE_DRAW=K
# (default 0) gives the 20 dB copies another draw of the noise; the same K gives the same files.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
[[ $# -eq 1 ]] || { echo "usage: $0 OUT_DIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The festival voice behind each short voice name.
# shellcheck source=../recognition/festival_turns.sh
source "$root/bench/recognition/festival_turns.sh"

# Synthesises the turns of text file $1 (`P text` / `C text`) with voices $2 (P) and $3 (C) into recording $4.
conversation() {
    local text=$1 pv=$2 cv=$3 name=$4
    local scm=$work/$name.scm n=0
    : >"$scm.slt"
    for v in "$pv" "$cv"; do
        { cat "$root/bench/recognition/festival_words.scm"; echo "(${festival_voice[$v]})"; } >"$scm.$v"
    done
    while read -r who line; do
        n=$((n + 1))
        local v=$pv
        [[ $who == C ]] && v=$cv
        local base=$work/$name-$(printf %03d $n)
        printf '(set! u (SynthText "%s"))\n(utt.save.wave u "%s.raw.wav" (quote riff))\n(save-words u "%s.words")\n' \
            "$line" "$base" "$base" >>"$scm.$v"
        echo "$who" >"$base.who"
    done <"$text"
    for v in "$pv" "$cv"; do
        festival -b "$scm.$v" >"$work/$name-$v.log" 2>&1
    done
    # The pause between turns: 0.4 s of silence, dithered as sox writes it, the same on every run (-R).
    sox -R -n -r 16000 -c 1 -b 16 "$work/gap.wav" trim 0 0.4
    local offset=0 parts=() i
    : >"$out/$name.truth"
    : >"$out/$name.txt"
    for ((i = 1; i <= n; i++)); do
        local base=$work/$name-$(printf %03d $i)
        sox -D "$base.raw.wav" -r 16000 -c 1 -b 16 "$base.wav"
        awk -v o="$offset" '{ printf "%.3f %.3f %s\n", $2 + o, $3 + o, $1 }' "$base.words" >>"$out/$name.truth"
        awk -v who="$(cat "$base.who")" '{ w = $1; if ($4 != "0") w = w $4; line = line " " w }
            END { print who ":" line }' "$base.words" >>"$out/$name.txt"
        parts+=("$base.wav" "$work/gap.wav")
        offset=$(awk -v o="$offset" -v d="$(soxi -D "$base.wav")" 'BEGIN { printf "%.6f", o + d + 0.4 }')
    done
    sox "${parts[@]}" "$out/$name.wav"
    # White noise at 20 dB below the recording's RMS level (uniform noise of amplitude a has RMS a / sqrt(3)). Sox
    # runs repeatable (-R), so that a corpus made again holds the same noise; NOISE_DRAW=K takes
    # the noise from K seconds further along the generator's sequence, another draw of the same level.
    local rms draw=${NOISE_DRAW:-0}
    rms=$(sox "$out/$name.wav" -n stat 2>&1 | awk '/RMS +amplitude/ { print $3 }')
    sox -R "$out/$name.wav" -p pad 0 "$draw" synth whitenoise vol "$(awk -v r="$rms" 'BEGIN { print r / 10 * sqrt(3) }')" \
        trim "$draw" |
        sox -R -m -v 1 "$out/$name.wav" -v 1 - -b 16 "$out/$name-snr20.wav"
    mismatch "$name"
}

# The differing transcript, the same on every run: of the words, 10 % replaced, 5 % dropped, 5 % followed by a
# word never said; the middle turn's first sentence missing; one sentence never said added after turn 3.
mismatch() {
    awk -v first_draw=7 -v name="$1" -v tags="$out/$1.mis.tags" '
        BEGIN { srand(first_draw); n_pool = split("window garden purple seven river quietly basket tomorrow lantern " \
                "orange pencil thunder marble kettle", pool, " ") }
        { lines[NR] = $0 }
        END {
            middle = int((NR + 1) / 2); k = 0
            for (l = 1; l <= NR; l++) {
                nw = split(lines[l], w, " "); out = w[1]
                skip_to = 1
                if (l == middle) { for (s = 2; s <= nw; s++) if (w[s] ~ /[.?!]$/) break; skip_to = s }
                for (s = 2; s <= nw; s++) {
                    if (s <= skip_to && l == middle) { k++; continue }
                    k++; r = rand()
                    if (r < 0.10) { out = out " " pool[int(rand() * n_pool) + 1]; print "replaced" >tags }
                    else if (r < 0.15) { }
                    else { out = out " " w[s]; print "kept " k >tags }
                    if (rand() < 0.05) { out = out " " pool[int(rand() * n_pool) + 1]; print "inserted" >tags }
                }
                print out
                if (l == 3) {
                    print "C: Nobody in this room ever said these words about the yellow painted boat."
                    for (e = 0; e < 13; e++) print "extra" >tags
                }
            }
        }' "$out/$1.txt" >"$out/$1.mis.txt"
}

# Makes recording $4 unless ONLY names others.
wanted() {
    [[ -z ${ONLY:-} || " $ONLY " == *" $4 "* ]] && conversation "$@"
    return 0
}

wanted "$here/texts/bees.txt" slt kal bees-slt-kal
wanted "$here/texts/harbour.txt" kal ked harbour-kal-ked
wanted "$here/texts/bees.txt" ked slt bees-ked-slt
wanted "$here/texts/lighthouse.txt" kal slt lighthouse-kal-slt
wanted "$here/texts/bakery.txt" ked slt bakery-ked-slt
wanted "$here/texts/ferry.txt" ked kal ferry-ked-kal
wanted "$here/texts/garden.txt" slt ked garden-slt-ked
wanted "$here/texts/clocks.txt" slt kal clocks-slt-kal
wanted "$here/texts/choir.txt" kal ked choir-kal-ked
if [[ ${LONG:-0} == 1 ]]; then
    cat "$here"/texts/*.txt "$root"/bench/recognition/texts/*.txt >"$work/long.txt"
    conversation "$work/long.txt" kal slt long-kal-slt
fi
