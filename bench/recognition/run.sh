#!/usr/bin/env bash
# Word error rate and run time of the tool against pocketsphinx_continuous (same model) on the recognition corpus, per source; fillers are left out of the word errors and counted apart.
#
#   bench/recognition/run.sh [-v] [TOOL]
#
# -v also prints one row per recording. TOOL defaults to the tool built in BUILD_DIR (default build-bench);
# CORPUS_DIR reuses a corpus made by make_corpus.sh (otherwise one is made in a temporary folder);
# SOURCES limits the sources (e.g. "festival librivox"); THREADS is given to the tool (default 1).
# One process runs at a time.
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
sources=${SOURCES:-festival festival-snr20 espeak librivox}

rows=$work/rows
: >"$rows"
while IFS=$'\t' read -r name source; do
    [[ " $sources " == *" $source "* ]] || continue
    wav=$corpus/$name.wav
    t_run=$("$helper" run "$work/$name.json" "$tool" --asr "$model" --aligner "$model" --audio "$wav" \
        --threads "${THREADS:-1}")
    b_run=$("$helper" run "$work/$name.base" pocketsphinx_continuous -infile "$wav" -hmm "$model/en-us" \
        -lm "$model/en-us.lm.bin" -dict "$model/cmudict-en-us.dict" -logfn /dev/null)
    t=$("$helper" score "$corpus/$name.txt" "$work/$name.json")
    b=$("$helper" score "$corpus/$name.txt" "$work/$name.base")
    [[ $(field status "$t_run") == 0 ]] || echo "$name: the tool exited with $(field status "$t_run")" >&2
    echo "$source $name $(soxi -D "$wav") $(field words "$t") $(field errors "$t") $(field errors "$b") \
$(field wall "$t_run") $(field wall "$b_run") $(field ref_fillers "$t") $(field hyp_fillers "$t") \
$(field hyp_fillers "$b") $(field all_words "$t") $(field all_errors "$t") $(field all_errors "$b")" >>"$rows"
done <"$corpus/sources.tsv"

awk -v verbose="$verbose" -v sources="$sources" '
function row(label, n, min, w, te, be, ts, bs, rf, tf, bf, aw, tae, bae) {
    printf "%-32s %4s %6.1f %6d %7d %7.1f %7d %7.1f %8.1f %8.1f %6d %6d %6d %7.1f %7.1f\n", label, n, min, w, te,
        w ? 100 * te / w : 0, be, w ? 100 * be / w : 0, ts, bs, rf, tf, bf, aw ? 100 * tae / aw : 0,
        aw ? 100 * bae / aw : 0
}
BEGIN {
    printf "%-32s %4s %6s %6s %7s %7s %7s %7s %8s %8s %6s %6s %6s %7s %7s\n", "source", "recs", "min", "words",
        "tool_e", "tool_%", "base_e", "base_%", "tool_s", "base_s", "fill", "t_fill", "b_fill", "t_all%", "b_all%"
}
{
    s = $1
    if (verbose) row("  " $2, 1, $3 / 60, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14)
    n[s]++; min[s] += $3 / 60; w[s] += $4; te[s] += $5; be[s] += $6; ts[s] += $7; bs[s] += $8
    rf[s] += $9; tf[s] += $10; bf[s] += $11; aw[s] += $12; tae[s] += $13; bae[s] += $14
}
END {
    if (verbose) print ""
    k = split(sources, order, " ")
    for (i = 1; i <= k; i++) {
        s = order[i]
        if (s in n) row(s, n[s], min[s], w[s], te[s], be[s], ts[s], bs[s], rf[s], tf[s], bf[s], aw[s], tae[s], bae[s])
    }
}' "$rows"
cat <<'NOTE'

words and errors leave out fillers (um, uh, er, ah, hmm, ...) on both sides; tool_% and base_% are the word
error rates of the tool and of pocketsphinx_continuous; tool_s and base_s their wall seconds in all; fill is
the fillers spoken, t_fill and b_fill those in each output; t_all% and b_all% are the error rates with fillers
counted as words.
NOTE
