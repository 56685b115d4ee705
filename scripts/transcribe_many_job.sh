# One recording of a batch, as transcribe_many.sh runs it through GNU parallel: the functions below are read by
# that script and travel to every host in parallel's environment, so they may use only their arguments and
# commands every host has (bash, coreutils, util-linux's flock, and ffmpeg where a recording needs converting).
# Functions that fail leave the reason in `job_reason`.
# shellcheck shell=bash

# The body of a JSON string for `$1`: backslashes and quotes escaped, line breaks as "; ", other control
# characters dropped.
json_text() {
    local text=${1//\\/\\\\}
    text=${text//\"/\\\"}
    text=${text//$'\n'/; }
    printf '%s' "${text//[$'\001'-$'\037']/}"
}

# The reason in a command's message `$1` ("mktemp: failed to create file via template 'x': No space left on
# device"): without the command's name, on one line.
command_reason() {
    local text=${1%$'\n'}
    # bash's own messages: "bash: line 3: printf: write error: ..." ("environment" in exported functions)
    if [[ "$text" =~ ^[a-z]+:\ line\ [0-9]+:\ (.*)$ ]]; then
        text=${BASH_REMATCH[1]}
    fi
    text=${text#printf: }
    text=${text#mktemp: }
    text=${text#mv: }
    text=${text#cp: }
    # "cannot move 'A' to 'B': Read-only file system": the caller names the paths already.
    if [[ "$text" =~ ^cannot\ [a-z\ ]+\ \'.*\':\ ([^:]*)$ ]]; then
        text=${BASH_REMATCH[1]}
    fi
    printf '%s' "${text//$'\n'/; }"
}

# Why the file `$1` cannot be opened for writing without being emptied (the system's words), or nothing when
# it can; it is made when missing.
open_reason() {
    local message
    message=$({ : <>"$1"; } 2>&1) && return 0
    message=${message%$'\n'}
    printf '%s' "${message##*: }"
}

# Makes a folder PARENT/PREFIX.XXXXXX that holds a lock while this shell or a child of it lives, so that a
# later run can tell it from the folder of a run that is gone (sweep_folders). Sets `locked_folder` and
# `locked_folder_fd`. It is made and locked under a short lock on PARENT, which a sweep takes too, so that a
# sweep never takes a folder in the making.
make_locked_folder() {
    local parent=$1 prefix=$2 made parent_fd=""
    locked_folder="" locked_folder_fd=""
    if { exec {parent_fd}<"$parent"; } 2>/dev/null; then
        flock -w 10 -x "$parent_fd" || true
    fi
    if ! made=$(mktemp -d -p "$parent" "$prefix.XXXXXX" 2>&1); then
        [[ -z "$parent_fd" ]] || exec {parent_fd}<&-
        job_reason=$(command_reason "$made")
        return 1
    fi
    if ! { exec {locked_folder_fd}<"$made"; } 2>/dev/null || ! flock -n -x "$locked_folder_fd"; then
        rm -rf -- "$made"
        [[ -z "$locked_folder_fd" ]] || exec {locked_folder_fd}<&-
        [[ -z "$parent_fd" ]] || exec {parent_fd}<&-
        locked_folder_fd=""
        job_reason="cannot lock the folder $made"
        return 1
    fi
    [[ -z "$parent_fd" ]] || exec {parent_fd}<&-
    locked_folder=$made
}

# Removes the folders PARENT/PREFIX.* whose runs are gone (no lock held).
sweep_folders() {
    local parent=$1 prefix=$2 folder fd parent_fd=""
    { exec {parent_fd}<"$parent"; } 2>/dev/null || return 0
    if flock -w 10 -x "$parent_fd"; then
        for folder in "$parent/$prefix".*; do
            [[ -e "$folder" ]] || continue
            fd=""
            if { exec {fd}<"$folder"; } 2>/dev/null && flock -n -x "$fd"; then
                rm -rf -- "$folder" 2>/dev/null || true
            fi
            [[ -z "$fd" ]] || exec {fd}<&-
        done
    fi
    exec {parent_fd}<&-
}

# Runs a command as a child that ends when this shell ends, however it ends (where setpriv can ask for that),
# and waits for it so that a signal to this shell is handled at once. Returns the child's status.
job_child() {
    local status=0
    if [[ -z "${job_pdeath+set}" ]]; then
        job_pdeath=""
        if setpriv --pdeathsig TERM true >/dev/null 2>&1; then
            job_pdeath=yes
        fi
    fi
    if [[ -n "$job_pdeath" ]]; then
        setpriv --pdeathsig TERM -- "$@" &
    else
        "$@" &
    fi
    job_pid=$!
    wait "$job_pid" || status=$?
    job_pid=""
    return "$status"
}

# Converts the recording `$1` to a 16 kHz mono 16-bit WAV at `$2` with ffmpeg (the first sound stream of a
# video or of a file with several), naming the recording `$3` in the reason of a failure and appending
# ffmpeg's messages to the log `$4`. A write that fails is a failure even where ffmpeg's status says
# otherwise (a full disk when it closes the file).
convert_recording() {
    local from=$1 to=$2 shown=$3 log=$4 errors="$2.messages" status=0 line
    if ! command -v ffmpeg >/dev/null 2>&1; then
        job_reason="ffmpeg is needed to convert it to 16 kHz mono WAV: install the Debian package ffmpeg"
        return 1
    fi
    job_child ffmpeg -nostdin -hide_banner -loglevel error -i "$from" -map 0:a:0 -map_metadata -1 \
        -fflags +bitexact -ar 16000 -ac 1 -c:a pcm_s16le -f wav -y "$to" 2>"$errors" || status=$?
    local messages
    messages=$(cat -- "$errors" 2>/dev/null || true)
    rm -f -- "$errors"
    [[ -z "$messages" ]] || printf '%s\n' "$messages" >>"$log"
    while IFS= read -r line; do
        if [[ "$line" == *"$to"* ]]; then
            job_reason="could not write the converted audio $to: ${line##*: }"
            return 1
        fi
    done <<<"$messages"
    if ((status == 0)) && [[ -s "$to" ]]; then
        return 0
    fi
    if [[ ! -d "${to%/*}" ]]; then
        job_reason="the scratch folder ${to%/*} was removed while it ran"
        return 1
    fi
    local reason=${messages%%$'\n'*}
    # A demuxer's message starts with its name and an address: "[mov,mp4,m4a @ 0x55d0c8e0] moov atom not found".
    if [[ "$reason" =~ ^\[[^]]*\ @\ 0x[0-9a-f]+\]\ (.*)$ ]]; then
        reason=${BASH_REMATCH[1]}
    fi
    if [[ "$reason" == *"matches no streams"* ]]; then
        reason="it holds no sound"
    elif ((status == 0)); then
        reason="no audio came out"
    elif [[ -z "$reason" ]]; then
        # Its messages could not be kept either: the scratch folder's disk is full, or ffmpeg was stopped.
        reason="ffmpeg ended with status $status"
        if ! messages=$({ : >>"$errors"; } 2>&1); then
            job_reason="could not write in the scratch folder ${to%/*}: ${messages##*: }"
            return 1
        fi
        rm -f -- "$errors"
    fi
    job_reason="ffmpeg could not read it: ${reason//"$from"/"$shown"}"
    return 1
}

# Prints the record of how recording FILE went on standard output, for the batch's summary: FILE, its state
# (done, failed, skipped) and the reason, each ended by a 0 byte, in one write.
job_outcome() {
    printf '%s\0%s\0%s\0' "$1" "$2" "${3:0:1000}"
}

# Writes OUT/NAME.error.json for `$1` through a temporary file of its own, and the record of the failure. Where
# the document cannot be written, the record says why, for the summary.
job_fail() {
    local reason=$1 doc="$job_out/$job_name.error.json" tmp message=""
    if tmp=$(mktemp -p "$job_out" --suffix=.partial ".$job_name.error.json.XXXXXX" 2>&1) &&
        message=$({ printf '{"error":"%s"}\n' "$(json_text "$reason")" >"$tmp"; } 2>&1) &&
        message=$(mv -f -- "$tmp" "$doc" 2>&1); then
        job_outcome "$job_file" failed "$reason"
        return 1
    fi
    if [[ "$tmp" == "$job_out"/* ]]; then
        rm -f -- "$tmp"
    else
        message=$tmp
    fi
    job_outcome "$job_file" failed "$reason (and $doc could not be written: $(command_reason "$message"))"
    return 1
}

# Leaves nothing of the job behind but its documents: the child it waits for, its watch on the batch, its
# scratch folder, its temporary documents and the lock of its recording.
job_cleanup() {
    if [[ -n "$job_pid" ]]; then
        kill -TERM "$job_pid" 2>/dev/null || true
        wait "$job_pid" 2>/dev/null || true
    fi
    if [[ -n "$job_watch" ]]; then
        kill "$job_watch" 2>/dev/null || true
        wait "$job_watch" 2>/dev/null || true
    fi
    [[ -z "$job_scratch" ]] || rm -rf -- "$job_scratch"
    [[ -z "$job_partial" ]] || rm -f -- "$job_partial"
    [[ -z "$job_keep_partial" ]] || rm -f -- "$job_keep_partial"
    if [[ -n "$job_lock_fd" ]]; then
        rm -f -- "$job_lock"
        exec {job_lock_fd}<&-
    fi
    job_pid="" job_watch="" job_scratch="" job_partial="" job_keep_partial="" job_lock_fd=""
}

# A signal to the job (the batch stopping it, or anyone): the recording fails, naming the signal.
job_stopped() {
    trap '' TERM INT HUP
    job_cleanup
    trap - EXIT
    if [[ -n "$job_name" ]]; then
        job_fail "the run was stopped (SIG$1) before it finished" || true
    fi
    exit 1
}

# Takes the lock of the recording: the file OUT/.NAME.lock, held with flock by this job and the tools it
# runs, so that a recording has one writer; a held lock is waited for (noted in the log). The holder removes
# the file when done: a job that got the lock of a removed file finds its own token missing from the file at
# that path and tries again. Sets job_lock_fd.
job_lock_recording() {
    local token mine reason message waited=""
    printf -v token '%-63s' "${HOSTNAME:-host} $BASHPID $RANDOM$RANDOM$RANDOM"
    while true; do
        if ! { exec {job_lock_fd}<>"$job_lock"; } 2>/dev/null; then
            job_lock_fd=""
            reason=$(open_reason "$job_lock")
            job_reason="could not make the lock file $job_lock: ${reason:-it cannot be opened}"
            return 1
        fi
        if ! flock -n -x "$job_lock_fd"; then
            [[ -n "$waited" ]] || printf 'waiting for another run of this recording to end\n' >>"$job_log"
            waited=yes
            # Waited for as a child, so that a signal (the batch gone) ends the wait.
            job_child flock -x "$job_lock_fd"
        fi
        if ! { printf '%s\n' "$token" >&"$job_lock_fd"; } 2>/dev/null &&
            ! message=$({ printf '%s\n' "$token" >&"$job_lock_fd"; } 2>&1); then
            # No room for the token (a full disk): which file the path names cannot be told, so it stays.
            exec {job_lock_fd}<&-
            job_lock_fd=""
            job_reason="could not write the lock file $job_lock: ${message##*: }"
            return 1
        fi
        mine=""
        { read -r -N 63 mine <"$job_lock"; } 2>/dev/null || true
        [[ "$mine" != "$token" ]] || return 0
        exec {job_lock_fd}<&-
        job_lock_fd=""
    done
}

# One recording: runs the tool on IN/FILE (converted first into a scratch folder in TMP, this host's
# temporary folder when TMP is "", when CONVERT is "yes"), given NAME.turns, NAME.extra and
# NAME.transcript.json (else NAME.transcript.txt) when they exist, and renames its standard output to
# OUT/NAME.json on success, or writes OUT/NAME.error.json naming the step that failed, the path and the
# system's reason. A converted WAV is kept as KEEP/NAME.wav when KEEP is not "". BATCH, when not "", is the
# folder the batch holds a lock on: the job does not start once the batch is gone, and stops when it goes.
# Prints its record (job_outcome) on standard output.
transcribe_one() {
    local tool=$1 model=$2 in=$3 out=$4 name=$5 file=$6 convert=$7 keep=$8 batch=$9 tmp=${10}
    local audio="$in/$file" status=0 message fd=""
    job_out=$out job_name="" job_file=$file job_log="$out/logs/$name.log" job_lock="$out/.$name.lock"
    job_pid="" job_watch="" job_scratch="" job_partial="" job_keep_partial="" job_lock_fd="" job_reason=""
    if [[ -n "$batch" ]]; then
        if ! { exec {fd}<"$batch"; } 2>/dev/null || flock -n -s "$fd"; then
            [[ -z "$fd" ]] || exec {fd}<&-
            job_outcome "$file" skipped "the batch was gone before it started"
            return 1
        fi
        exec {fd}<&-
    fi
    trap 'job_stopped TERM' TERM
    trap 'job_stopped INT' INT
    trap 'job_stopped HUP' HUP
    trap 'job_cleanup' EXIT
    if [[ ! -d "$out/logs" ]] && ! message=$(mkdir -p -- "$out/logs" 2>&1); then
        job_outcome "$file" failed "could not make the log folder $out/logs: $(command_reason "$message")"
        return 1
    fi
    job_name=$name
    if ! { : >"$job_log"; } 2>/dev/null; then
        job_fail "could not write the log $job_log: $(open_reason "$job_log")"
        return 1
    fi
    if [[ -n "$batch" ]]; then
        # Stops this job when the batch ends without it (killed outright). "$batch/." is never made anew.
        local me=$BASHPID
        (exec flock -s "$batch/." kill -TERM "$me") 0</dev/null >/dev/null 2>&1 &
        job_watch=$!
    fi
    job_lock_recording || {
        job_fail "$job_reason"
        return 1
    }
    if [[ -f "$out/$name.json" ]]; then
        job_cleanup
        job_outcome "$file" skipped "another run made its document"
        return 0
    fi
    if [[ ! -e "$in/$file" ]]; then
        if [[ "${PARALLEL_SSHLOGIN:-:}" != ":" ]]; then
            job_fail "the recording did not reach the host $PARALLEL_SSHLOGIN (its transfer failed)"
        else
            job_fail "the recording is gone from $in"
        fi
        return 1
    fi
    # Temporary documents of runs of this recording that are gone.
    local left
    for left in "$out/.$name.json."*.partial "$out/.$name.json.partial" "$out/.$name.error.json."*.partial \
        "${keep:-/nonexistent}/.$name.wav."*.partial "${keep:-/nonexistent}/.$name.wav.partial"; do
        [[ ! -e "$left" ]] || rm -f -- "$left"
    done
    if [[ "$convert" == yes ]]; then
        [[ -n "$tmp" ]] || tmp=${TMPDIR:-/tmp}
        if [[ -n "${PARALLEL_SSHLOGIN:-}" && "$PARALLEL_SSHLOGIN" != ":" ]]; then
            sweep_folders "$tmp" transcribe-many-job
        fi
        make_locked_folder "$tmp" transcribe-many-job || {
            job_fail "could not make a scratch folder in $tmp: $job_reason"
            return 1
        }
        job_scratch=$locked_folder
        audio="$job_scratch/audio.wav"
        convert_recording "$in/$file" "$audio" "$file" "$job_log" || {
            job_fail "could not convert the recording: $job_reason"
            return 1
        }
        if [[ -n "$keep" ]]; then
            local kept="$keep/$name.wav"
            if ! job_keep_partial=$(mktemp -p "$keep" --suffix=.partial ".$name.wav.XXXXXX" 2>&1); then
                message=$job_keep_partial job_keep_partial=""
                job_fail "could not keep the converted audio as $kept: $(command_reason "$message")"
                return 1
            fi
            if ! message=$(cp -- "$audio" "$job_keep_partial" 2>&1) ||
                ! message=$(mv -f -- "$job_keep_partial" "$kept" 2>&1); then
                job_fail "could not keep the converted audio as $kept: $(command_reason "$message")"
                return 1
            fi
            job_keep_partial=""
        fi
    fi
    local args=(--asr "$model" --aligner "$model" --audio "$audio" --threads 1)
    if [[ -f "$in/$name.turns" ]]; then
        args+=(--turns "$in/$name.turns")
    fi
    if [[ -f "$in/$name.extra" ]]; then
        args+=(--extra-words "$in/$name.extra")
    fi
    if [[ -f "$in/$name.transcript.json" ]]; then
        args+=(--transcript "$in/$name.transcript.json")
    elif [[ -f "$in/$name.transcript.txt" ]]; then
        args+=(--transcript "$in/$name.transcript.txt")
    fi
    if ! job_partial=$(mktemp -p "$out" --suffix=.partial ".$name.json.XXXXXX" 2>&1); then
        message=$job_partial job_partial=""
        job_fail "could not make a temporary document in $out: $(command_reason "$message")"
        return 1
    fi
    job_child "$tool" "${args[@]}" >"$job_partial" 2>>"$job_log" || status=$?
    if [[ -n "$job_scratch" ]]; then
        rm -rf -- "$job_scratch"
        job_scratch=""
    fi
    if ((status == 0)); then
        # The document must be whole: a full disk can cut it short after the tool's last check.
        local start=""
        { read -r -N 10 start <"$job_partial"; } 2>/dev/null || true
        if [[ "$start" != '{"words":[' || "$(tail -c 3 -- "$job_partial")" != ']}' ]]; then
            job_fail "the words document was cut short while written to $job_partial (is its disk full?)"
            return 1
        fi
        if ! message=$(mv -f -- "$job_partial" "$out/$name.json" 2>&1); then
            job_fail "could not rename $job_partial to $out/$name.json: $(command_reason "$message")"
            return 1
        fi
        # The recording is done from here on: a stop that comes now must not give it an error as well.
        job_partial="" job_name=""
        [[ ! -e "$out/$name.error.json" ]] || rm -f -- "$out/$name.error.json"
        job_cleanup
        job_outcome "$file" "done" ""
        return 0
    fi
    if ((status > 128)); then
        message="tavrik-asr was stopped by signal $((status - 128))"
    elif grep -q '^{"error":"' "$job_partial" 2>/dev/null; then
        # The tool's own error object is the document, unchanged.
        local reason
        reason=$(sed -n 's/^{"error":"\(.*\)"}$/\1/p' "$job_partial" | head -n 1)
        if message=$(mv -f -- "$job_partial" "$out/$name.error.json" 2>&1); then
            job_partial=""
            job_cleanup
            job_outcome "$file" failed "$reason"
            return 1
        fi
        message="could not rename $job_partial to $out/$name.error.json: $(command_reason "$message")"
    else
        message="tavrik-asr ended with status $status"
    fi
    job_fail "$message"
}

# The job parallel runs for FILE: on this machine with the folders' own paths; on another host inside the
# working folder parallel made there, where the recording's folder NAME was sent and whence NAME.json,
# NAME.error.json, logs/NAME.log and a kept NAME.wav come back.
transcribe_job() {
    local tool=$1 model=$2 in=$3 out=$4 keep=$5 batch=$6 tmp=$7 file=$8 convert=$9
    local name=${file%.*}
    if [[ "${PARALLEL_SSHLOGIN:-:}" == ":" ]]; then
        transcribe_one "$tool" "$model" "$in" "$out" "$name" "$file" "$convert" "$keep" "$batch" "$tmp"
    else
        # Which host has it, for the summary should its connection be lost before its outcome comes back.
        job_outcome "$file" started "$PARALLEL_SSHLOGIN"
        transcribe_one "$tool" "$model" "$name" . "$name" "$file" "$convert" "${keep:+.}" "" ""
    fi
}
