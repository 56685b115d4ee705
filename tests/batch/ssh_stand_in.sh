# Sourced by the batch script's tests: a stand-in for ssh, so that runs on a "remote host" happen here.
# shellcheck shell=bash

# write_ssh_stand_in PATH HOME [LOG [DOWN]]: writes PATH, an executable that skips ssh's options and the host
# name and runs the command it is given with bash in HOME, as ssh would in the remote home folder. With LOG,
# each call's arguments are appended to LOG first. With DOWN, the host is lost while the file DOWN exists: a
# new connection is refused, and one in use hangs a moment, then ends with ssh's status 255 and the command
# stopped, as a host that goes down would end it; while DOWN holds some text, the host is up but every file
# sent to it fails, as on a full disk.
write_ssh_stand_in() {
    local path=$1 home=$2 log=${3:-} down=${4:-}
    {
        echo '#!/usr/bin/env bash'
        if [[ -n $log ]]; then
            cat <<EOF
printf '%s\n' "\$*" >>"$log"
EOF
        fi
        cat <<EOF
while [[ \$# -gt 0 && \$1 == -* ]]; do
    case \$1 in -o | -l | -p | -S | -i | -F) shift 2 ;; *) shift ;; esac
done
host=\$1
shift
[[ \${1-} == -- ]] && shift
cd "$home"
EOF
        if [[ -z $down ]]; then
            echo 'exec bash -c "$*"'
        else
            cat <<EOF
if [[ -e "$down" && ! -s "$down" ]]; then
    echo "ssh: connect to host \$host port 22: Connection refused" >&2
    exit 255
elif [[ -s "$down" && "\$*" == *"rsync --server"* && "\$*" != *--sender* ]]; then
    echo "rsync: [receiver] write failed: No space left on device (28)" >&2
    exit 11
fi
# The command in a session of its own, so that all of it goes with the host; its input is ssh's.
setsid bash -c "\$*" <&0 &
command=\$!
trap 'kill -KILL -- -\$command 2>/dev/null; exit 255' TERM HUP INT
while kill -0 "\$command" 2>/dev/null; do
    if [[ -e "$down" && ! -s "$down" ]]; then
        sleep 1
        kill -KILL -- -"\$command" 2>/dev/null
        echo "Connection to \$host closed by remote host." >&2
        exit 255
    fi
    sleep 0.1
done
wait "\$command"
EOF
        fi
    } >"$path"
    chmod +x "$path"
}
