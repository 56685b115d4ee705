#!/usr/bin/env bash
# Installs what the build and the tests need: Debian packages (only those missing) and the pinned
# npm packages: the one that carries the ggml source, and the driver the review page's browser test runs
# Debian's Chromium with (no browser of its own is downloaded). Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    build-essential cmake pkg-config nodejs npm
    libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us pocketsphinx
    libsndfile1-dev libespeak-ng-dev libspeexdsp-dev
    libgtest-dev libbenchmark-dev
    pocketsphinx-testdata espeak-ng sox
    clang libclang-rt-14-dev
    parallel rsync nlohmann-json3-dev
    ffmpeg dpkg-dev file man-db wamerican
    chromium
)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
# node and npm may come from outside Debian's packages; then they are already usable.
if command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1; then
    filtered=()
    for p in "${missing[@]}"; do
        [[ "$p" == nodejs || "$p" == npm ]] || filtered+=("$p")
    done
    missing=("${filtered[@]}")
fi
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}" >&2
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [[ ! -f node_modules/nodejs-whisper/cpp/whisper.cpp/ggml/CMakeLists.txt || ! -f node_modules/playwright-core/package.json ]]; then
    PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund >/dev/null
fi
