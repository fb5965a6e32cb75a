#!/usr/bin/env bash
# Runs the client from a build directory.
set -euo pipefail
build="$1"
shift
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: running under Xvfb." >&2
    exec xvfb-run -a "$build/bin/ostrel" "$@"
fi
exec "$build/bin/ostrel" "$@"
