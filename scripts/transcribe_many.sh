#!/usr/bin/env bash
# Transcribes a folder of recordings into a folder of words documents with GNU parallel, on this machine's
# cores or on several machines.
#
#   scripts/transcribe_many.sh IN_DIR OUT_DIR [--jobs N] [--model DIR] [--sshlogin LOGIN]... [--sshloginfile FILE]
#
# Every IN_DIR/NAME.wav is one recording; NAME.turns and NAME.extra beside it are given to the tool when they
# exist. OUT_DIR gets NAME.json (the words document) or NAME.error.json (the error object), each written under
# a temporary name and renamed, and logs/NAME.log (the run's standard error). A recording whose NAME.json
# exists is skipped, so a stopped run goes on where it stopped; a failed one is tried again.
#
# The tool is $TAVRIK_ASR, else build/cli/tavrik-asr of this checkout; the model folder defaults to Debian's.
# With --sshlogin/--sshloginfile the recordings go to the hosts and the documents come back (rsync), and the
# tool and the model must be installed at the same paths on every host.
#
# Exit status: 0 when no recording failed, 1 when some did, 2 when the run could not start.
set -euo pipefail

me=transcribe_many
repo=$(cd "$(dirname "$0")/.." && pwd)

usage() {
    echo "usage: $me IN_DIR OUT_DIR [--jobs N] [--model DIR] [--sshlogin LOGIN]... [--sshloginfile FILE]" >&2
    exit 2
}

die() {
    echo "$me: $1" >&2
    exit 2
}

# An absolute path for `$1`, the same on every host.
absolute() {
    if [[ "$1" == /* ]]; then
        printf '%s' "$1"
    else
        printf '%s/%s' "$PWD" "$1"
    fi
}

# One recording: runs the tool on IN/NAME.wav (with NAME.turns and NAME.extra when they exist), then renames
# its standard output to OUT/NAME.json on success or OUT/NAME.error.json on failure. Runs on whichever host
# parallel chose, so it may use only its arguments.
transcribe_one() {
    local tool=$1 model=$2 in=$3 out=$4 name=$5
    local args=(--asr "$model" --aligner "$model" --audio "$in/$name.wav" --threads 1)
    if [[ -f "$in/$name.turns" ]]; then
        args+=(--turns "$in/$name.turns")
    fi
    if [[ -f "$in/$name.extra" ]]; then
        args+=(--extra-words "$in/$name.extra")
    fi
    local partial="$out/.$name.json.partial" status=0
    mkdir -p "$out/logs"
    "$tool" "${args[@]}" >"$partial" 2>"$out/logs/$name.log" || status=$?
    if ((status == 0)); then
        mv -f -- "$partial" "$out/$name.json"
        rm -f -- "$out/$name.error.json"
        return 0
    fi
    # A tool that was killed or could not start wrote no error object of its own.
    if ! grep -q '^{"error":' "$partial"; then
        printf '{"error":"tavrik-asr ended with status %d"}\n' "$status" >"$partial"
    fi
    mv -f -- "$partial" "$out/$name.error.json"
    return 1
}

# The job parallel runs: on this machine with the folders' own paths, on another host inside the working
# folder that parallel made there, where the recording's folder was sent and the documents come back from.
transcribe_job() {
    local tool=$1 model=$2 in=$3 out=$4 name=$5
    if [[ "${PARALLEL_SSHLOGIN:-:}" == ":" ]]; then
        transcribe_one "$tool" "$model" "$in" "$out" "$name"
    else
        transcribe_one "$tool" "$model" "$name" . "$name"
    fi
}
export -f transcribe_one transcribe_job

in_dir="" out_dir="" jobs="" model=/usr/share/pocketsphinx/model/en-us
remote=()
while (($#)); do
    case "$1" in
    --jobs | --model | --sshlogin | --sshloginfile)
        (($# >= 2)) || usage
        case "$1" in
        --jobs) jobs=$2 ;;
        --model) model=$2 ;;
        *) remote+=("$1" "$2") ;;
        esac
        shift 2
        ;;
    -h | --help) usage ;;
    -*) echo "$me: unknown option $1" >&2 && usage ;;
    *)
        if [[ -z "$in_dir" ]]; then
            in_dir=$1
        elif [[ -z "$out_dir" ]]; then
            out_dir=$1
        else
            usage
        fi
        shift
        ;;
    esac
done
[[ -n "$in_dir" && -n "$out_dir" ]] || usage
if [[ -n "$jobs" && ! "$jobs" =~ ^[1-9][0-9]*$ ]]; then
    die "--jobs needs a whole number above 0, not \"$jobs\""
fi
for command in parallel soxi; do
    command -v "$command" >/dev/null || die "$command is missing: run scripts/install_deps.sh"
done

tool=$(absolute "${TAVRIK_ASR:-$repo/build/cli/tavrik-asr}")
model=$(absolute "$model")
# Other hosts are only reached through parallel: only this machine's copy can be checked here.
if ((${#remote[@]} == 0)); then
    [[ -x "$tool" ]] || die "no tool at $tool: build it (README) or set TAVRIK_ASR"
    [[ -d "$model" ]] || die "no model folder at $model"
fi

[[ -d "$in_dir" ]] || die "no such folder: $in_dir"
in_dir=$(absolute "$in_dir")
mkdir -p -- "$out_dir" 2>/dev/null || die "cannot create the output folder $out_dir"
out_dir=$(absolute "$out_dir")
probe=$(mktemp -p "$out_dir" .write-test.XXXXXX 2>/dev/null) || die "cannot write to the output folder $out_dir"
rm -f -- "$probe"
mkdir -p -- "$out_dir/logs" 2>/dev/null || die "cannot create $out_dir/logs"

names=()
while IFS= read -r -d '' wav; do
    name=${wav##*/}
    names+=("${name%.wav}")
done < <(find "$in_dir" -maxdepth 1 \( -type f -o -type l \) -name '*.wav' -print0 | sort -z)
if ((${#names[@]} == 0)); then
    echo "$me: no recordings (*.wav) in $in_dir: nothing to do" >&2
    exit 0
fi

todo=()
skipped=0
for name in "${names[@]}"; do
    if [[ -f "$out_dir/$name.json" ]]; then
        skipped=$((skipped + 1))
    else
        todo+=("$name")
    fi
done
if ((skipped > 0)); then
    echo "$me: skipping $skipped of ${#names[@]} recordings: their documents are already in $out_dir" >&2
fi

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
touch "$work/started"

options=(--null --env transcribe_one --env transcribe_job)
if [[ -n "$jobs" ]]; then
    options+=(--jobs "$jobs")
else
    # One run per core: a second hardware thread of a core adds little to a decoder and doubles the memory.
    options+=(--use-cores-instead-of-threads)
fi
if [[ -t 2 ]]; then
    options+=(--bar)
fi
if ((${#remote[@]} > 0)); then
    # Each recording travels as a folder of links to its files, so that optional files need no options of
    # their own; rsync follows the links (-L) and skips documents that a run did not write.
    for name in "${todo[@]}"; do
        mkdir -p -- "$work/send/$name"
        for extension in wav turns extra; do
            if [[ -e "$in_dir/$name.$extension" ]]; then
                ln -s -- "$in_dir/$name.$extension" "$work/send/$name/$name.$extension"
            fi
        done
    done
    export PARALLEL_RSYNC_OPTS="-rLDzR --ignore-missing-args"
    # rsync 3.2.4 and later quote remote names themselves; parallel already does.
    export RSYNC_OLD_ARGS=1
    options+=("${remote[@]}" --workdir ... --cleanup --transferfile "$work/send/./{}"
        --return "$out_dir/./{}.json" --return "$out_dir/./{}.error.json" --return "$out_dir/./logs/{}.log")
fi

started=$(date +%s.%N)
if ((${#todo[@]} > 0)); then
    # parallel's status counts the failed jobs up to 101; 255 is a failure of its own (a bad login file).
    status=0
    printf '%s\0' "${todo[@]}" |
        parallel "${options[@]}" transcribe_job "$(printf '%q' "$tool")" "$(printf '%q' "$model")" \
            "$(printf '%q' "$in_dir")" "$(printf '%q' "$out_dir")" {} || status=$?
    if ((status > 101)); then
        echo "$me: parallel stopped with status $status" >&2
    fi
fi
wall=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')

done_count=0 audio=0
failures=()
for name in "${todo[@]}"; do
    if [[ -f "$out_dir/$name.json" ]]; then
        done_count=$((done_count + 1))
        rm -f -- "$out_dir/$name.error.json" # left by an earlier failed run of this recording
        seconds=$(soxi -D "$in_dir/$name.wav" 2>/dev/null || echo 0)
        audio=$(awk -v a="$audio" -v b="$seconds" 'BEGIN { print a + b }')
    elif [[ "$out_dir/$name.error.json" -nt "$work/started" ]]; then
        message=$(sed -n 's/^{"error":"\(.*\)"}$/\1/p' "$out_dir/$name.error.json")
        failures+=("$name.wav: ${message:-$(head -c 200 "$out_dir/$name.error.json")}")
    else
        failures+=("$name.wav: no document came back (the run was stopped, or a transfer failed)")
    fi
done

echo "done      $done_count"
echo "failed    ${#failures[@]}"
for failure in "${failures[@]}"; do
    echo "  $failure"
done
echo "skipped   $skipped (documents already there)"
awk -v audio="$audio" -v wall="$wall" 'BEGIN {
    printf "audio     %.3f h (%.1f s)\n", audio / 3600, audio
    printf "wall time %.1f s\n", wall
    if (audio > 0) printf "real-time factor %.3f (wall time / audio)\n", wall / audio
}'
((${#failures[@]} == 0))
