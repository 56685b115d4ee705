# Sourced by the batch script's tests: a stand-in for ssh, so that runs on a "remote host" happen here.
# shellcheck shell=bash

# write_ssh_stand_in PATH HOME [LOG]: writes PATH, an executable that skips ssh's options and the host name
# and runs the command it is given with bash in HOME, as ssh would in the remote home folder. With LOG, each
# call's arguments are appended to LOG first.
write_ssh_stand_in() {
    local path=$1 home=$2 log=${3:-}
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
shift
[[ \${1-} == -- ]] && shift
cd "$home"
exec bash -c "\$*"
EOF
    } >"$path"
    chmod +x "$path"
}
