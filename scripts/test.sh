#!/usr/bin/env bash
# Installs everything, builds, and runs the whole test suite; fails when any test fails or when no test ran.
#
# The build folder is `build`, shared with demo.sh (which builds only the tool there) so that neither script
# rebuilds what the other built. Every setting the suite depends on is given here, whatever an earlier
# configure left in the folder's cache: tests on, sanitizers off (scripts/sanitize.sh has its own folder) and
# the test-folder list reset to the project's full list.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_deps.sh
./scripts/build.sh build RelWithDebInfo -DTAVRIK_BUILD_TESTS=ON -DTAVRIK_SANITIZE=OFF -UTAVRIK_TEST_FOLDERS
ctest --test-dir build --output-on-failure --no-tests=error -j "$(nproc)"
