#!/usr/bin/env bash
# Fillers in the festival conversations (clean and at 20 dB SNR): how many the tool hears or restores where they were spoken, how many it adds where none were, and its word error rate, with and without the turns and extra-words files.
#
#   bench/recognition/fillers.sh [-v] [TOOL]
#
# A spoken filler counts as found when an output filler (um, uh, er, ah, hmm, ..., recognised or "added")
# starts within 0.3 s of it, one output filler per spoken one; an output filler more than 1 s from every
# spoken filler counts as wrong. -v also prints one row per recording; TOOL, CORPUS_DIR, THREADS and
# BUILD_DIR as for run.sh. One process runs at a time.
set -euo pipefail
verbose=0
if [[ ${1:-} == -v ]]; then
    verbose=1
    shift
fi
if [[ $# -gt 0 ]]; then
    TOOL=$1
fi
source "$(dirname "$0")/setup.sh"

rows=$work/rows
: >"$rows"
while IFS=$'\t' read -r name source; do
    [[ $source == festival || $source == festival-snr20 ]] || continue
    for files in yes no; do
        args=(--asr "$model" --aligner "$model" --audio "$corpus/$name.wav" --threads "${THREADS:-1}")
        [[ $files == no ]] || args+=(--turns "$corpus/$name.turns" --extra-words "$corpus/$name.extra")
        run=$("$helper" run "$work/$name.$files.json" "$tool" "${args[@]}")
        [[ $(field status "$run") == 0 ]] || echo "$name: the tool exited with $(field status "$run")" >&2
        f=$("$helper" fillers "$corpus/$name.ref" "$work/$name.$files.json")
        echo "$source $files $name $(field spoken "$f") $(field found "$f") $(field found_added "$f") \
$(field wrong "$f") $(field output "$f") $(field words "$f") $(field errors "$f") $(field wall "$run")" >>"$rows"
    done
done <"$corpus/sources.tsv"

awk -v verbose="$verbose" '
function row(label, files, sp, fo, fa, wr, ou, w, e, s) {
    printf "%-36s %5s %7d %6d %6d %6d %7d %6d %6d %6.1f %7.1f\n", label, files, sp, fo, fa, wr, ou, w, e,
        w ? 100 * e / w : 0, s
}
BEGIN {
    printf "%-36s %5s %7s %6s %6s %6s %7s %6s %6s %6s %7s\n", "source", "files", "spoken", "found", "added",
        "wrong", "output", "words", "errors", "wer_%", "wall_s"
}
{
    k = $1 " " $2
    if (verbose) row("  " $3, $2, $4, $5, $6, $7, $8, $9, $10, $11)
    if (!(k in sp)) keys[++nk] = k
    sp[k] += $4; fo[k] += $5; fa[k] += $6; wr[k] += $7; ou[k] += $8; w[k] += $9; e[k] += $10; s[k] += $11
}
END {
    if (verbose) print ""
    for (i = 1; i <= nk; i++) {
        k = keys[i]
        split(k, part, " ")
        row(part[1], part[2], sp[k], fo[k], fa[k], wr[k], ou[k], w[k], e[k], s[k])
    }
}' "$rows"
cat <<'NOTE'

files: yes with --turns and --extra-words (every spoken word, fillers included, at its start), no without;
spoken: fillers in the reference; found: of those, the ones with an output filler starting within 0.3 s;
added: found ones that the tool restored ("added":true); wrong: output fillers more than 1 s from every
spoken filler; output: all output fillers; words, errors, wer_%: the other words.
NOTE
