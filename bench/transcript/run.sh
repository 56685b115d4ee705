#!/usr/bin/env bash
# Times the corpus of make_corpus.sh with its transcripts and scores the words against festival's times:
# per recording and noise, the exact and the differing transcript, starts within 20/50/100 ms of the truth,
# the mean start error, ends within 50 ms, words placed, untimed counts, order faults and the run time and
# peak memory beside a plain run of the same recording.
#
#   bench/transcript/run.sh CORPUS_DIR [TAVRIK_ASR]
#
# MODEL_DIR names the model folder (default Debian's en-us); THREADS is given to every run (default 1); NOISES
# limits the noise conditions (default "quiet snr20"); KINDS limits the transcripts (default "exact mismatched");
# PLAIN=0 skips the plain runs (their columns read "-"). MISSES=1 lists on standard error every said-and-kept
# word not started within 50 ms (or untimed) and every inserted or never-said word that was timed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
corpus=$1
asr=${2:-$root/build/cli/tavrik-asr}
model=${MODEL_DIR:-/usr/share/pocketsphinx/model/en-us}
threads=${THREADS:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs the tool on recording $1 (extra arguments after it) into $work/out.json; prints "seconds peak_kib".
timed_run() {
    local wav=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$asr" --asr "$model" --aligner "$model" --audio "$wav" \
        --threads "$threads" "$@" >"$work/out.json" 2>"$work/err"
    cat "$work/time"
}

# One word a line: `start end untimed(0|1)`, in document order.
words_of() {
    sed 's/^{"words":\[//; s/\]}$//; s/},{/}\n{/g' "$1" |
        awk '{ s = $0; sub(/.*"start":/, "", s); sub(/,.*/, "", s); e = $0; sub(/.*"end":/, "", e); sub(/[,}].*/, "", e)
               print s, e, (index($0, "\"untimed\":true") ? 1 : 0) }'
}

# Scores the words of $work/out.json against truth $1 with tags $2 (empty: word k is truth word k).
score() {
    words_of "$work/out.json" >"$work/words"
    awk -v tags="$2" -v truth="$1" -v misses="${MISSES:-0}" -v label="$3" '
        BEGIN {
            while ((getline line < truth) > 0) { n++; split(line, t, " "); ts[n] = t[1]; te[n] = t[2]; tw[n] = t[3] }
            if (tags != "") while ((getline line < tags) > 0) { m++; split(line, t, " "); kind[m] = t[1]; idx[m] = t[2] }
        }
        {
            k++; start = $1; end = $2; untimed = $3
            if (tags == "") { what = "kept"; ref = k } else { what = kind[k]; ref = idx[k] }
            if (!untimed) { if (seen && start < last_end - 0.0105) order++; last_end = end; seen = 1 }
            if (what == "kept") {
                said++
                if (untimed) {
                    lost++
                    if (misses == 1) printf "%s word %d %s: untimed (truth %.3f)\n", label, k, tw[ref], ts[ref] > "/dev/stderr"
                    next
                }
                d = start - ts[ref]; if (d < 0) d = -d; sum += d
                if (misses == 1 && d > 0.050)
                    printf "%s word %d %s: start %.3f, truth %.3f (%+d ms)\n", label, k, tw[ref], start, ts[ref],
                        1000 * (start - ts[ref]) > "/dev/stderr"
                if (d <= 0.020) w20++; if (d <= 0.050) w50++; if (d <= 0.100) w100++
                de = end - te[ref]; if (de < 0) de = -de; if (de <= 0.050) e50++
                timed++
            } else {
                other[what]++
                if (untimed) other_untimed[what]++
                else if (misses == 1 && what != "replaced")
                    printf "%s word %d (%s): timed %.3f to %.3f\n", label, k, what, start, end > "/dev/stderr"
            }
        }
        END {
            printf "%d | %.1f / %.1f / %.1f %% | %.0f ms | %.1f %% | %.1f %%", said,
                100 * w20 / said, 100 * w50 / said, 100 * w100 / said, 1000 * sum / (timed ? timed : 1),
                100 * e50 / said, 100 * timed / said
            if (tags != "") printf " | extra %d/%d, inserted %d/%d, replaced %d/%d, said %d", other_untimed["extra"],
                other["extra"], other_untimed["inserted"], other["inserted"], other_untimed["replaced"],
                other["replaced"], lost
            else printf " | said %d", lost
            printf " | %d", order
            if (k != (tags == "" ? n : m)) printf " | WORD COUNT %d, expected %d", k, (tags == "" ? n : m)
            printf "\n"
        }' "$work/words"
}

echo "| recording | noise | transcript | said words kept | starts within 20 / 50 / 100 ms | mean start error | ends within 50 ms | said words placed | untimed | order faults | warning count | run time (plain run) | peak memory (plain run) |"
echo "|--|--|--|--|--|--|--|--|--|--|--|--|--|"
for truth in "$corpus"/*.truth; do
    name=$(basename "$truth" .truth)
    for noise in ${NOISES:-quiet snr20}; do
        wav=$corpus/$name.wav
        [[ $noise == snr20 ]] && wav=$corpus/$name-snr20.wav
        plain_s=- plain_kib=-
        if [[ ${PLAIN:-1} != 0 ]]; then
            read -r plain_s plain_kib < <(timed_run "$wav")
            plain_kib=$((plain_kib / 1024))
        fi
        for kind in ${KINDS:-exact mismatched}; do
            if [[ $kind == exact ]]; then
                read -r s kib < <(timed_run "$wav" --transcript "$corpus/$name.txt")
                line=$(score "$truth" "" "$name $noise $kind")
            else
                read -r s kib < <(timed_run "$wav" --transcript "$corpus/$name.mis.txt")
                line=$(score "$truth" "$corpus/$name.mis.tags" "$name $noise $kind")
            fi
            unplaced=$(sed -n 's/^transcript words not placed: //p' "$work/err")
            echo "| $name | $noise | $kind | $line | ${unplaced:-0} | ${s} s (${plain_s} s) | $((kib / 1024)) MiB (${plain_kib} MiB) |"
        done
    done
done
