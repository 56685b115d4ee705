#!/usr/bin/env bash
# Word error rate on the LibriVox clips of pocketsphinx-testdata: the tool against the reference
# transcription, and pocketsphinx_continuous with the same model as the baseline. Also the run time and
# peak memory of the tool on each clip.
set -euo pipefail
source "$(dirname "$0")/build_bench.sh"
data=/usr/share/pocketsphinx/test/data/librivox

words_of() { sed -e 's/"text":"\([^"]*\)"/\n\1\n/g' | awk 'NR % 2 == 0' | tr '\n' ' '; }
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }

tool_errors=0 base_errors=0 total=0
printf '%-45s %6s %10s %10s %8s %8s\n' clip words tool_err base_err wall_s rss_mib
while read -r line; do
    id=$(sed -n 's/.*(\(.*\)).*/\1/p' <<<"$line")
    ref=$(sed -e 's/<s>//; s/<\/s>//; s/(.*)//' <<<"$line")
    hyp=$("$tool" --asr "$model" --aligner "$model" --audio "$data/$id.wav" 2>/dev/null | words_of)
    base=$(pocketsphinx_continuous -infile "$data/$id.wav" -hmm "$model/en-us" -lm "$model/en-us.lm.bin" \
        -dict "$model/cmudict-en-us.dict" -logfn /dev/null 2>/dev/null | tr '\n' ' ')
    t=$("$bench" wer "$ref" "$hyp")
    b=$("$bench" wer "$ref" "$base")
    m=$("$bench" measure "$tool" --asr "$model" --aligner "$model" --audio "$data/$id.wav")
    printf '%-45s %6s %10s %10s %8s %8s\n' "$id" "$(field words "$t")" "$(field errors "$t")" "$(field errors "$b")" \
        "$(field wall "$m")" "$(field rss_mib "$m")"
    tool_errors=$((tool_errors + $(field errors "$t")))
    base_errors=$((base_errors + $(field errors "$b")))
    total=$((total + $(field words "$t")))
done <"$data/transcription"
awk -v t="$tool_errors" -v b="$base_errors" -v n="$total" \
    'BEGIN { printf "WER: tool %.1f %% (%d/%d), pocketsphinx_continuous %.1f %% (%d/%d)\n", 100*t/n, t, n, 100*b/n, b, n }'
