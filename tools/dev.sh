#!/usr/bin/env bash
# Developer entry point.
#   tools/dev.sh run    install what is missing, build, run the client
#   tools/dev.sh test   install what is missing, build, run every test
#   tools/dev.sh build  install what is missing, build
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="${OSTREL_BUILD_DIR:-$root/build}"
jobs="${OSTREL_JOBS:-$(nproc)}"

"$here/install-deps.sh"

configure() {
    # A configured build directory re-runs CMake by itself when a CMake file
    # changed; configuring again would only cost time.
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    fi
}

configure_and_build() {
    configure
    cmake --build "$build" -j "$jobs"
}

case "${1:-}" in
    build)
        configure_and_build
        ;;
    run)
        # Only what running needs: the client (its resources and QML are
        # compiled in; "openvpn.ostrel" and the scripts beside it are made
        # when configuring) and the demo web service. No test is built.
        configure
        cmake --build "$build" -j "$jobs" --target ostrel ostrel-demo-service
        shift
        exec "$here/run-client.sh" "$build" "$@"
        ;;
    test)
        configure_and_build
        # Benchmarks are not run here, only kept building.
        cmake --build "$build" -j "$jobs" --target benchmarks
        "$here/run-tests.sh" "$build"
        ;;
    *)
        echo "usage: $0 run|test|build" >&2
        exit 2
        ;;
esac
