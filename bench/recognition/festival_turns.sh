# Sourced by the corpus makers: festival_turns says the turns of a conversation text in one festival voice.
# shellcheck shell=bash

# The festival voice behind each short voice name.
declare -A festival_voice=([slt]=voice_cmu_us_slt_arctic_hts [kal]=voice_kal_diphone [ked]=voice_ked_diphone)

# festival_turns TEXT VOICE PREFIX: every turn of TEXT (`SPEAKER words` per line) said by VOICE (a name above)
# into PREFIX-NN.wav (16 kHz mono 16-bit) and PREFIX-NN.words (`word start end punctuation phones` per word
# of festival's Word relation, in the turn's time), NN counting turns from 01; festival's script and log go
# to PREFIX.scm and PREFIX.log. Exits when festival leaves a turn unsaid.
festival_turns() {
    local text=$1 voice=$2 prefix=$3 n=0 i base line
    { cat "$(dirname "${BASH_SOURCE[0]}")/festival_words.scm"; echo "(${festival_voice[$voice]})"; } >"$prefix.scm"
    while read -r _ line; do
        n=$((n + 1))
        base=$prefix-$(printf %02d $n)
        printf '(set! u (SynthText "%s"))\n(utt.save.wave u "%s.raw.wav" (quote riff))\n(save-words u "%s.words")\n' \
            "$line" "$base" "$base" >>"$prefix.scm"
    done <"$text"
    festival -b "$prefix.scm" >"$prefix.log" 2>&1
    for ((i = 1; i <= n; i++)); do
        base=$prefix-$(printf %02d $i)
        [[ -s $base.raw.wav && -s $base.words ]] || {
            echo "festival failed on $(basename "$text" .txt) ($voice), turn $i" >&2
            exit 1
        }
        sox -D "$base.raw.wav" -r 16000 -c 1 -b 16 "$base.wav"
    done
}
