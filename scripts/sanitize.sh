#!/usr/bin/env bash
# Builds the tool and the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer (into
# build-asan) and runs every test there. Any sanitizer report ends the reporting process with an error,
# so a test that sees it fails. Leaks are reported too: neither our code nor the engine's libraries leak.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-asan
# Line tables are all the debug information a sanitizer report needs (each frame's file and line); the full
# information would take a good part of the build's time.
lines_only="-O2 -g1 -DNDEBUG"
./scripts/build.sh "$build" RelWithDebInfo -DTAVRIK_SANITIZE=ON -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$lines_only" \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="$lines_only"

# The child processes the tests start (the tool itself) inherit these.
export ASAN_OPTIONS=detect_leaks=1:exitcode=23:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Tests labelled `script` (the batch, the package, the review page in a browser, the tool without /proc, the
# engine's include layers, the manual pages' options) check shell scripts, packaging, pages and sources; the
# tool they start is checked under the sanitizers by the end-to-end tests, and AddressSanitizer itself needs
# /proc. The whole tool run at every thread count only checks that
# the documents agree; the recogniser's own thread-count tests run its threads under the sanitizers. Both
# run in the plain build (scripts/test.sh).
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)" -LE script \
    -E '^RealEngine[.]SameDocumentForAnyThreadCount$'
