#!/usr/bin/env bash
# Runs every test of a build directory: the CTest suites (under Xvfb, so the
# window and tray tests have a display) and a short smoke run of the fuzzers.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="${1:-$root/build}"

status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure -j "${OSTREL_TEST_JOBS:-4}" || status=$?

"$root/tests/fuzz/run-fuzzers.sh" --smoke || status=$?

exit $status
