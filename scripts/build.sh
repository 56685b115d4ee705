#!/usr/bin/env bash
# Configures and builds into the given folder (default: build) with the given build type (default:
# RelWithDebInfo); further arguments go to CMake's configure step. The configure step's messages are kept in
# <folder>/configure.log and the settings the folder is built with are printed on one line, so that a value
# cached by an earlier configure can be seen. TAVRIK_TARGETS names the targets to build (default: all).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
type=${2:-RelWithDebInfo}
shift $(( $# > 2 ? 2 : $# ))
mkdir -p "$dir"
if ! cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    exit 1
fi
settings=$(sed -n 's/^\(TAVRIK_[A-Z_]*\|CMAKE_BUILD_TYPE\):\(BOOL\|STRING\)=\(.*\)$/\1=\3/p' "$dir/CMakeCache.txt" | sort | tr '\n' ' ')
echo "building $dir: $settings" >&2
targets=()
for t in ${TAVRIK_TARGETS:-}; do
    targets+=(--target "$t")
done
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
