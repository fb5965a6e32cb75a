#!/usr/bin/env bash
# Builds the fuzzers with clang and runs each one for a bounded time.
#   run-fuzzers.sh --smoke        a short run of each (CI)
#   run-fuzzers.sh [seconds]      a longer run of each (default 300 s)
# Exits non-zero when a fuzzer finds a crash; the crashing inputs are kept in
# the build directory and listed.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${OSTREL_FUZZ_BUILD_DIR:-$root/build-fuzz}"

seconds=300
if [ "${1:-}" = "--smoke" ]; then
    seconds=20
elif [ -n "${1:-}" ]; then
    seconds="$1"
fi

CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

status=0
for fuzzer in fuzz_json fuzz_unscramble; do
    corpus="$build/corpus/$fuzzer"
    artifacts="$build/artifacts/$fuzzer"
    mkdir -p "$corpus" "$artifacts"
    seeds="$here/corpus/${fuzzer#fuzz_}"
    echo "== $fuzzer: ${seconds}s"
    if ! timeout $((seconds + 60)) "$build/$fuzzer" "$corpus" "$seeds" \
            -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
            -artifact_prefix="$artifacts/" -print_final_stats=1 2>"$build/$fuzzer.log"; then
        status=1
        echo "!! $fuzzer failed; last lines of its log:"
        tail -n 30 "$build/$fuzzer.log"
        ls -l "$artifacts"
    else
        grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/$fuzzer.log" || true
    fi
done
exit $status
