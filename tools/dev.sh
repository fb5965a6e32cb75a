#!/usr/bin/env bash
# Developer entry point.
#   tools/dev.sh run    install what is missing, build, run the client
#   tools/dev.sh test   install what is missing, build, run every test
#   tools/dev.sh build  install what is missing, build
#   tools/dev.sh sanitize  install what is missing, build everything with
#                       AddressSanitizer and UndefinedBehaviorSanitizer into
#                       build-sanitize/, run the test suites
#   tools/dev.sh check  install what is missing, check the C++ formatting,
#                       every shell script and every QML file
#                       (tools/check-style.sh)
# OSTREL_WERROR=1 builds with warnings as errors; OSTREL_CMAKE_ARGS holds
# further options for CMake when it configures (e.g. a compiler launcher).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="${OSTREL_BUILD_DIR:-$root/build}"
jobs="${OSTREL_JOBS:-$(nproc)}"

"$here/install-deps.sh"

# configure [-DNAME=VALUE...]: configures the build directory when it is not
# configured yet, or when one of the given options differs from its cache. A
# configured build directory re-runs CMake by itself when a CMake file
# changed; configuring again would only cost time.
configure() {
    local werror=OFF
    [ "${OSTREL_WERROR:-0}" = 1 ] && werror=ON
    local options=(-DOSTREL_WARNINGS_AS_ERRORS="$werror" "$@")
    local cache="$build/CMakeCache.txt" needed=0 option name value
    if [ ! -f "$cache" ]; then
        needed=1
    else
        for option in "${options[@]}"; do
            name="${option#-D}"
            value="${name#*=}"
            name="${name%%=*}"
            grep -qx "$name:[A-Z]*=$value" "$cache" || needed=1
        done
    fi
    if [ "$needed" = 1 ]; then
        # shellcheck disable=SC2086 # OSTREL_CMAKE_ARGS is a list of options
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${OSTREL_CMAKE_ARGS:-} "${options[@]}"
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
    check)
        exec "$here/check-style.sh"
        ;;
    sanitize)
        build="${OSTREL_SANITIZE_BUILD_DIR:-$root/build-sanitize}"
        configure -DOSTREL_SANITIZE=ON
        cmake --build "$build" -j "$jobs"
        # Any report ends the test with a failure. Leak checking is off: what
        # it finds at exit are Qt's own allocations (plugins, the font and
        # style caches), kept until the process ends on purpose. The fuzzers
        # are built with the sanitizers anyway and run by "test".
        export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=0}"
        export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
        "$here/run-tests.sh" --no-fuzz "$build"
        ;;
    *)
        echo "usage: $0 run|test|build|sanitize|check" >&2
        exit 2
        ;;
esac
