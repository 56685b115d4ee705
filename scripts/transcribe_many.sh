#!/usr/bin/env bash
# Transcribes a folder of recordings into a folder of words documents with GNU parallel, on this machine's
# cores or on several machines.
#
#   scripts/transcribe_many.sh IN_DIR OUT_DIR [--jobs N] [--model DIR] [--keep-wav DIR]
#                              [--sshlogin LOGIN]... [--sshloginfile FILE]
#
# Every file of IN_DIR is a recording, except hidden files and those named *.turns, *.extra, *.json or *.txt;
# NAME.turns, NAME.extra and NAME.transcript.json (else NAME.transcript.txt) beside NAME.EXT are given to the
# tool when they exist. A WAV at 16 kHz goes to the
# tool as it is; any other recording is first converted by ffmpeg to 16 kHz mono WAV in a temporary folder on
# the host that runs it. OUT_DIR gets NAME.json (the words document) or NAME.error.json (the error object),
# each written under a temporary name and renamed, and logs/NAME.log (the run's standard error). A recording
# whose NAME.json exists is skipped, so a stopped run goes on where it stopped; a failed one is tried again.
#
# The tool is $TAVRIK_ASR, else the tavrik-asr installed beside this command, else build/cli/tavrik-asr of this
# checkout; the model folder defaults to Debian's. With --sshlogin/--sshloginfile the recordings go to the
# hosts and the documents come back (rsync), and the tool and the model must be installed at the same paths on
# every host.
#
# Exit status: 0 when no recording failed, 1 when some did, 2 when the run could not start.
set -euo pipefail

me=transcribe_many
here=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
# The installed copy has this line rewritten by the build (packaging/CMakeLists.txt): the path from this
# script's folder to its helper, and the project's version.
installed_helpers="" installed_version=""
if [[ -n "$installed_helpers" ]]; then
    helpers="$here/$installed_helpers"
    default_tool="$here/tavrik-asr"
    version=$installed_version
else
    helpers=$here
    default_tool="$here/../build/cli/tavrik-asr"
    version=$(sed -n 's/^project(tavrik_asr VERSION \([^ )]*\).*/\1/p' "$here/../CMakeLists.txt" 2>/dev/null || true)
fi

usage_line="usage: $me IN_DIR OUT_DIR [--jobs N] [--model DIR] [--keep-wav DIR] [--sshlogin LOGIN]... [--sshloginfile FILE]"
usage() {
    echo "$usage_line" >&2
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

# shellcheck source=scripts/transcribe_many_job.sh
source "$helpers/transcribe_many_job.sh" || die "cannot read $helpers/transcribe_many_job.sh"
job_functions=(json_text command_reason open_reason make_locked_folder sweep_folders job_child convert_recording
    job_outcome job_fail job_cleanup job_stopped job_lock_recording transcribe_one transcribe_job)
export -f "${job_functions[@]}"

in_dir="" out_dir="" jobs="" keep_dir="" model=/usr/share/pocketsphinx/model/en-us
remote=()
while (($#)); do
    case "$1" in
    --jobs | --model | --keep-wav | --sshlogin | --sshloginfile)
        (($# >= 2)) || usage
        case "$1" in
        --jobs) jobs=$2 ;;
        --model) model=$2 ;;
        --keep-wav) keep_dir=$2 ;;
        *) remote+=("$1" "$2") ;;
        esac
        shift 2
        ;;
    -h | --help)
        echo "$usage_line"
        exit 0
        ;;
    --version)
        echo "transcribe-many ${version:-(version unknown)}"
        exit 0
        ;;
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
for needed in parallel:parallel soxi:sox flock:util-linux; do
    command -v "${needed%:*}" >/dev/null || die "${needed%:*} is missing: install the Debian package ${needed#*:}"
done

tool=$(absolute "${TAVRIK_ASR:-$default_tool}")
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
# The batch's own folder in OUT_DIR, locked while the batch lives: its jobs stop when the lock goes, and a
# later run removes the folders of batches that are gone, and the scratch folders in $TMPDIR of their jobs.
sweep_folders "$out_dir" .transcribe-many
others=("$out_dir"/.transcribe-many.*)
make_locked_folder "$out_dir" .transcribe-many || die "cannot write to the output folder $out_dir: $job_reason"
work=$locked_folder work_fd=$locked_folder_fd
trap 'rm -rf -- "$work"' EXIT
mkdir -p -- "$out_dir/logs" 2>/dev/null || die "cannot create $out_dir/logs"
if [[ -n "$keep_dir" ]]; then
    mkdir -p -- "$keep_dir" 2>/dev/null || die "cannot create the folder $keep_dir"
    keep_dir=$(absolute "$keep_dir")
    # A kept NAME.wav must never replace a recording.
    [[ "$(readlink -f "$keep_dir")" != "$(readlink -f "$in_dir")" ]] ||
        die "--keep-wav needs a folder other than the recordings' folder"
    probe=$(mktemp -p "$keep_dir" .write-test.XXXXXX 2>/dev/null) || die "cannot write to the folder $keep_dir"
    rm -f -- "$probe"
fi

# The recordings, and each one's NAME (the file name without its last extension), which names its sidecars
# and its documents.
files=()
while IFS= read -r -d '' path; do
    files+=("${path##*/}")
done < <(find "$in_dir" -maxdepth 1 \( -type f -o -type l \) ! -name '.*' ! -name '*.turns' ! -name '*.extra' \
    ! -name '*.json' ! -name '*.txt' -print0 | sort -z)
if ((${#files[@]} == 0)); then
    echo "$me: no recordings in $in_dir: nothing to do" >&2
    exit 0
fi
declare -A files_named=()
for file in "${files[@]}"; do
    name=${file%.*}
    files_named["$name"]+="${files_named["$name"]:+, }$file"
done

# Two recordings of one NAME would write the same documents: neither runs, and both are failures.
todo=()
skipped=0
failures=()
for file in "${files[@]}"; do
    name=${file%.*}
    if [[ -f "$out_dir/$name.json" ]]; then
        skipped=$((skipped + 1))
        # An error beside a whole document is from a stop that came as the document was put in place.
        [[ ! -e "$out_dir/$name.error.json" ]] || rm -f -- "$out_dir/$name.error.json"
    elif [[ "${files_named["$name"]}" != "$file" ]]; then
        failures+=("$file: recordings ${files_named["$name"]} share the name $name: rename all but one")
    else
        todo+=("$file")
    fi
done
if ((skipped > 0)); then
    echo "$me: skipping $skipped of ${#files[@]} recordings: their documents are already in $out_dir" >&2
fi

# Documents that a killed transfer from a host left half-returned go, unless another batch is writing here.
sweep_folders "${TMPDIR:-/tmp}" transcribe-many-job
if [[ ! -e "${others[0]}" ]]; then
    for file in "${todo[@]}"; do
        name=${file%.*}
        for left in "$out_dir/.$name".{json,error.json}.?????? "$out_dir/logs/.$name.log".?????? \
            ${keep_dir:+"$keep_dir/.$name.wav".??????}; do
            [[ ! -f "$left" ]] || rm -f -- "$left"
        done
    done
fi

# A WAV at 16 kHz goes to the tool as it is, and so does one sox cannot read (the tool gives its own error);
# everything else is converted.
converted=0
{ : >"$work/files" && : >"$work/convert"; } || die "cannot write in $work"
for file in "${todo[@]}"; do
    convert=yes
    if [[ "${file,,}" == *.wav ]]; then
        rate=$(soxi -r "$in_dir/$file" 2>/dev/null || true)
        if [[ -z "$rate" || "$rate" == 16000 ]]; then
            convert=no
        fi
    fi
    [[ "$convert" == no ]] || converted=$((converted + 1))
    { printf '%s\0' "$file" >>"$work/files" && printf '%s\0' "$convert" >>"$work/convert"; } ||
        die "cannot write the list of recordings in $work"
done
if ((converted > 0 && ${#remote[@]} == 0)) && ! command -v ffmpeg >/dev/null; then
    echo "$me: $converted recordings need converting to 16 kHz mono WAV, and ffmpeg is missing: install the" \
        "Debian package ffmpeg" >&2
fi

# Each job prints one record of how its recording went (job_outcome), read below: --ungroup passes them on
# as they come, with no files of parallel's own, whose folder is this batch's.
options=(--null --ungroup --tmpdir "$work")
if [[ -n "$jobs" ]]; then
    options+=(--jobs "$jobs")
else
    # One run per core: a second hardware thread of a core adds little to a decoder and doubles the memory.
    options+=(--use-cores-instead-of-threads)
fi
if [[ -t 2 ]]; then
    options+=(--bar)
fi
batch=$work scratch=${TMPDIR:-/tmp}
if ((${#remote[@]} > 0)); then
    # Each recording travels as a folder of links to its files, so that optional files need no options of
    # their own; rsync follows the links (-L) and skips documents that a run did not write.
    for file in "${todo[@]}"; do
        name=${file%.*}
        mkdir -p -- "$work/send/$name" || die "cannot write in $work"
        for sent in "$file" "$name.turns" "$name.extra" "$name.transcript.json" "$name.transcript.txt"; do
            if [[ -e "$in_dir/$sent" ]]; then
                ln -s -- "$in_dir/$sent" "$work/send/$name/$sent" || die "cannot write in $work"
            fi
        done
    done
    export PARALLEL_RSYNC_OPTS="-rLDzR --ignore-missing-args"
    # rsync 3.2.4 and later quote remote names themselves; parallel already does.
    export RSYNC_OLD_ARGS=1
    # The functions travel in parallel's environment (here they are exported, which is much faster).
    for function in "${job_functions[@]}"; do
        options+=(--env "$function")
    done
    options+=("${remote[@]}" --workdir ... --cleanup --transferfile "$work/send/./{1.}"
        --return "$out_dir/./{1.}.json" --return "$out_dir/./{1.}.error.json" --return "$out_dir/./logs/{1.}.log")
    if [[ -n "$keep_dir" ]]; then
        options+=(--return "$keep_dir/./{1.}.wav")
    fi
    # Jobs on other hosts are stopped by parallel when their connection goes, and use the host's $TMPDIR.
    batch="" scratch=""
    # A host that goes silent ends its connection within a minute or so, instead of holding its jobs for the
    # hours TCP takes to notice.
    if [[ -z "${PARALLEL_SSH:-}" ]]; then
        options+=(--ssh "ssh -o ServerAliveInterval=15 -o ServerAliveCountMax=4")
    fi
fi

# A signal to the batch stops it and its jobs: the lock goes first, so that every job stops and leaves its
# recording's error; parallel, told to start no more, ends once they have.
parallel_pid=""
stop_batch() {
    trap '' INT TERM HUP
    exec {work_fd}<&-
    if [[ -n "$parallel_pid" ]]; then
        kill -TERM "$parallel_pid" 2>/dev/null || true
        wait "$parallel_pid" 2>/dev/null || true
    fi
    echo "$me: stopped by SIG$1; run it again to go on" >&2
    exit 1
}
trap 'stop_batch INT' INT
trap 'stop_batch TERM' TERM
trap 'stop_batch HUP' HUP

started=$(date +%s.%N)
declare -A outcome_state=() outcome_reason=() outcome_host=()
if ((${#todo[@]} > 0)); then
    # parallel's status counts the failed jobs up to 101; 255 is a failure of its own (a bad login file).
    mkfifo "$work/records" || die "cannot make a pipe in $work"
    # parallel ends with the batch, however the batch ends, where setpriv can ask for that.
    with_batch=()
    if setpriv --pdeathsig TERM true >/dev/null 2>&1; then
        with_batch=(setpriv --pdeathsig TERM --)
    fi
    # Opened for reading and writing first, so that neither side waits for the other to open the pipe.
    exec {records_rw}<>"$work/records"
    "${with_batch[@]}" parallel "${options[@]}" transcribe_job "$(printf '%q' "$tool")" "$(printf '%q' "$model")" \
        "$(printf '%q' "$in_dir")" "$(printf '%q' "$out_dir")" "$(printf '%q' "$keep_dir")" \
        "$(printf '%q' "$batch")" "$(printf '%q' "$scratch")" '{1}' '{2}' :::: "$work/files" ::::+ "$work/convert" \
        >"$work/records" {work_fd}<&- {records_rw}<&- &
    parallel_pid=$!
    exec {records}<"$work/records" {records_rw}<&-
    while IFS= read -r -d '' record_file <&"$records" && IFS= read -r -d '' record_state <&"$records" &&
        IFS= read -r -d '' record_reason <&"$records"; do
        if [[ "$record_state" == started ]]; then
            outcome_host["$record_file"]=$record_reason
        else
            outcome_state["$record_file"]=$record_state
            outcome_reason["$record_file"]=$record_reason
        fi
    done
    exec {records}<&-
    status=0
    wait "$parallel_pid" || status=$?
    parallel_pid=""
    if ((status > 101)); then
        echo "$me: parallel stopped with status $status" >&2
    fi
fi
wall=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')

# Seconds of sound in the recording `$1`: sox reads WAV, ffprobe the rest; 0 when neither can.
duration_of() {
    local seconds
    seconds=$(soxi -D "$1" 2>/dev/null) ||
        seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$1" 2>/dev/null) || true
    [[ "$seconds" =~ ^[0-9]+(\.[0-9]*)?$ ]] || seconds=0
    printf '%s' "$seconds"
}

done_count=0 audio=0
for file in "${todo[@]}"; do
    name=${file%.*}
    state=${outcome_state["$file"]:-} reason=${outcome_reason["$file"]:-} host=${outcome_host["$file"]:-}
    if [[ -f "$out_dir/$name.json" ]]; then
        done_count=$((done_count + 1))
        rm -f -- "$out_dir/$name.error.json" # left by an earlier failed run of this recording
        audio=$(awk -v a="$audio" -v b="$(duration_of "$in_dir/$file")" 'BEGIN { print a + b }')
    elif [[ "$state" == failed || ("$state" == skipped && -n "$reason") ]]; then
        failures+=("$file: $reason")
    elif [[ "$state" == "done" ]]; then
        failures+=("$file: its document did not come back from the host ${host:-that made it} (the copy back failed)")
    elif [[ -n "$host" ]]; then
        failures+=("$file: the connection to the host $host was lost while it ran")
    elif ((${#remote[@]} > 0)); then
        reason="none could be reached, the recording could not be sent, or the batch stopped first"
        failures+=("$file: it did not start on a host ($reason)")
    else
        failures+=("$file: no document came back (its run was stopped)")
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
