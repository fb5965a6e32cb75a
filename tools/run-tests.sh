#!/usr/bin/env bash
# Runs every test of a build directory: the CTest suites (under Xvfb, so the
# window and tray tests have a display) and a short smoke run of the fuzzers.
#   run-tests.sh [--no-fuzz] [BUILD_DIR]   --no-fuzz: the CTest suites only
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
fuzz=1
if [ "${1:-}" = "--no-fuzz" ]; then
    fuzz=0
    shift
fi
build="${1:-$root/build}"

status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure -j "${OSTREL_TEST_JOBS:-4}" || status=$?

if [ "$fuzz" = 1 ]; then
    "$root/tests/fuzz/run-fuzzers.sh" --smoke || status=$?
fi

exit $status
