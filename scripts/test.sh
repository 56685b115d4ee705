#!/usr/bin/env bash
# Installs everything, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_deps.sh
./scripts/build.sh build RelWithDebInfo
ctest --test-dir build --output-on-failure -j "$(nproc)"
