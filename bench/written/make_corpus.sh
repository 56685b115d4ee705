#!/usr/bin/env bash
# Makes the written-words corpus in OUT_DIR (the same bytes on every run) from the conversations in
# bench/written/texts: each turn said by one of two voices (festival slt, kal, ked, or espeak-ng's en-us and
# its variant f3), the turns joined with 0.4 to 1.0 s of silence. The texts are kept as written (capitals, marks, digits) beside
# each recording, one turn a line, so the words can be scored as people write them.
#
#   bench/written/make_corpus.sh OUT_DIR
#
# Per conversation NAME: NAME.wav (16 kHz mono) and NAME.txt (the written turns).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[[ $# -eq 1 ]] || { echo "usage: $0 OUT_DIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The festival voice behind each short voice name.
# shellcheck source=../recognition/festival_turns.sh
source "$here/../recognition/festival_turns.sh"
declare -A espeak_voice=([espeak]=en-us [espeakf]=en-us+f3)
# The two voices of each conversation, in the order of the texts.
pairs=("slt kal" "ked espeak" "kal espeakf" "espeak ked" "slt ked" "kal espeak" "ked espeakf" "espeakf kal")

# Every turn of a conversation, each in its voice, as NAME-N.wav (16 kHz mono 16-bit); festival reads all of
# one voice's turns in one run, since loading the voice is most of its time.
say_all() {
    local name=$1 text=$2 first=$3 second=$4
    local voice n=0 who line
    for voice in "$first" "$second"; do
        [[ $voice == espeak* ]] || printf '(%s)\n' "${festival_voice[$voice]}" >"$work/$voice.scm"
    done
    while IFS=$'\t' read -r who line; do
        n=$((n + 1))
        voice=$first
        [[ $who == B ]] && voice=$second
        if [[ $voice == espeak* ]]; then
            espeak-ng -v "${espeak_voice[$voice]}" -s 160 -w "$work/$name-$n.raw.wav" "$line"
        else
            printf '(utt.save.wave (SynthText "%s") "%s" (quote riff))\n' "${line//\"/}" "$work/$name-$n.raw.wav" \
                >>"$work/$voice.scm"
        fi
    done <"$text"
    for voice in "$first" "$second"; do
        [[ $voice == espeak* ]] || festival -b "$work/$voice.scm" >/dev/null 2>&1
    done
    for ((k = 1; k <= n; k++)); do
        sox -D "$work/$name-$k.raw.wav" -r 16000 -c 1 -b 16 "$work/$name-$k.wav"
    done
}

gaps=(0.4 0.5 0.6 0.7 0.8 0.9 1.0)
i=0
for text in "$here"/texts/*.txt; do
    name=$(basename "$text" .txt)
    read -r first second <<<"${pairs[$((i % ${#pairs[@]}))]}"
    i=$((i + 1))
    say_all "$name" "$text" "$first" "$second"
    sox -R -n -r 16000 -c 1 -b 16 "$work/lead.wav" trim 0 0.3
    parts=("$work/lead.wav")
    n=0
    : >"$out/$name.txt"
    while IFS=$'\t' read -r _ line; do
        n=$((n + 1))
        gap=${gaps[$(((n * 3) % ${#gaps[@]}))]}
        sox -R -n -r 16000 -c 1 -b 16 "$work/gap-$n.wav" trim 0 "$gap"
        parts+=("$work/$name-$n.wav" "$work/gap-$n.wav")
        printf '%s\n' "$line" >>"$out/$name.txt"
    done <"$text"
    sox "${parts[@]}" "$out/$name.wav"
done
