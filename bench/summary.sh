#!/usr/bin/env bash
# Prints the compact summary of a benchmark run from the parts' tables (timing.txt, wer.txt, fillers.txt in FOLDER, each as optional).
#
#   bench/summary.sh FOLDER
#
# Per length: pocketsphinx_continuous's wall time, the tool's at each thread count and their ratios to it, and
# the tool's peak RSS at --threads 1 and 4 (rows without turns and extra-words files). Per source: word error
# rates of the tool and of pocketsphinx_continuous. Fillers: spoken, found, restored, wrong.
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 FOLDER" >&2; exit 2; }
dir=$1
commit=$(git -C "$(dirname "$0")" rev-parse --short HEAD 2>/dev/null || echo unknown)
[[ -z $(git -C "$(dirname "$0")" status --porcelain --untracked-files=no 2>/dev/null) ]] || commit+=" with uncommitted changes"
echo "== summary: commit $commit, $(nproc) processors, $(date -u +%Y-%m-%d)"

# table FILE FIRST_COLUMN: the rows of the table in FILE whose header starts with FIRST_COLUMN, as
# "name=value" words (the header's names), one row a line; nothing when the file is missing.
table() {
    [[ -s $1 ]] || return 0
    awk -v first="$2" '
        !started && $1 == first { for (i = 1; i <= NF; i++) name[i] = $i; n = NF; started = 1; next }
        started && NF == 0 { exit }
        started { line = ""; for (i = 1; i <= n; i++) line = line (i > 1 ? " " : "") name[i] "=" $i; print line }' "$1"
}

if [[ -s $dir/timing.txt ]]; then
    echo
    table "$dir/timing.txt" min | awk '
    function get(k,   i) { for (i = 1; i <= NF; i++) if (index($i, k "=") == 1) return substr($i, length(k) + 2); return "-" }
    function ratio(a, b) { return a == "-" || !(b > 0) ? "-" : sprintf("%.2f", a / b) }
    {
        if (files == "") files = get("files")
        if (get("files") != files) next
        m = get("min"); t = get("thr")
        if (!(m in seen_m)) { mins[++nm] = m; seen_m[m] = 1 }
        if (!(t in seen_t)) { thr[++nt] = t; seen_t[t] = 1 }
        wall[m, t] = get("wall_s"); x[m, t] = get("x_base"); rss[m, t] = get("rss_mib"); base[m] = get("base_s")
    }
    END {
        if (!nm) exit
        head = sprintf("%-5s %7s", "min", "base_s")
        for (i = 1; i <= nt; i++) head = head sprintf(" %7s", "t" thr[i] "_s")
        for (i = 1; i <= nt; i++) head = head sprintf(" %6s", "x" thr[i])
        print head sprintf(" %7s %7s %6s", "rss1", "rss4", "rss4/1")
        for (j = 1; j <= nm; j++) {
            m = mins[j]
            line = sprintf("%-5s %7s", m, base[m])
            for (i = 1; i <= nt; i++) line = line sprintf(" %7s", (m, thr[i]) in wall ? wall[m, thr[i]] : "-")
            for (i = 1; i <= nt; i++) line = line sprintf(" %6s", (m, thr[i]) in x ? x[m, thr[i]] : "-")
            r1 = (m, 1) in rss ? rss[m, 1] : "-"; r4 = (m, 4) in rss ? rss[m, 4] : "-"
            print line sprintf(" %7s %7s %6s", r1, r4, ratio(r4, r1))
        }
        printf "tN_s: the tool'\''s wall seconds at --threads N (files %s); xN = tN_s / base_s; rss1, rss4: peak MiB at 1 and 4\n", files
    }'
fi

if [[ -s $dir/wer.txt ]]; then
    echo
    table "$dir/wer.txt" source | awk '
    function get(k,   i) { for (i = 1; i <= NF; i++) if (index($i, k "=") == 1) return substr($i, length(k) + 2); return "-" }
    BEGIN {
        k = split("librivox espeak festival festival-snr20", order, " ")
        label["librivox"] = "LibriVox"; label["espeak"] = "espeak-ng"
        label["festival"] = "festival clean"; label["festival-snr20"] = "festival 20 dB"
        printf "%-16s %4s %6s %7s %7s %8s %8s\n", "source", "recs", "words", "tool_%", "base_%", "tool_s", "base_s"
    }
    {
        s = get("source")
        if (!(s in label)) { order[++k] = s; label[s] = s }
        row[s] = sprintf("%-16s %4s %6s %7s %7s %8s %8s", label[s], get("recs"), get("words"), get("tool_%"),
            get("base_%"), get("tool_s"), get("base_s"))
    }
    END {
        for (i = 1; i <= k; i++) if (order[i] in row) print row[order[i]]
        print "word error rates without fillers; base: pocketsphinx_continuous; tool_s, base_s: wall seconds in all"
    }'
fi

if [[ -s $dir/fillers.txt ]]; then
    echo
    table "$dir/fillers.txt" source | awk '
    function get(k,   i) { for (i = 1; i <= NF; i++) if (index($i, k "=") == 1) return substr($i, length(k) + 2); return "-" }
    BEGIN {
        label["festival"] = "festival clean"; label["festival-snr20"] = "festival 20 dB"
        printf "%-16s %5s %6s %5s %5s %8s %5s %6s\n", "fillers", "files", "spoken", "found", "heard", "restored",
            "wrong", "wer_%"
    }
    {
        s = get("source")
        printf "%-16s %5s %6s %5s %5s %8s %5s %6s\n", s in label ? label[s] : s, get("files"), get("spoken"),
            get("found"), get("found") - get("added"), get("added"), get("wrong"), get("wer_%")
    }
    END {
        print "found: spoken fillers with an output filler within 0.3 s, heard by the recogniser or restored from the"
        print "extra words; wrong: output fillers over 1 s from every spoken one; files: with --turns and --extra-words"
    }'
fi
