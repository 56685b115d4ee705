#!/usr/bin/env bash
# Configures and builds into the given folder (default: build) with the given build type (default:
# RelWithDebInfo); further arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
type=${2:-RelWithDebInfo}
shift $(( $# > 2 ? 2 : $# ))
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
