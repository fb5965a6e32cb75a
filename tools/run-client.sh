#!/usr/bin/env bash
# Runs the client from a build directory.
#   tools/run-client.sh BUILD_DIR [client arguments...]
# A build with the demo deployment runs as the demo (tools/demo.sh): the
# client with its web service, OpenVPN and V2Ray servers, all in namespaces
# of their own. Any other build runs the client alone.
set -euo pipefail
build="$1"
shift
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"

deployment_dir="$(sed -n 's/^OSTREL_DEPLOYMENT_DIR:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"
if [ -n "$deployment_dir" ] && [ "$(realpath "$deployment_dir")" = "$(realpath "$root/deployment/demo")" ]; then
    exec "$here/demo.sh" "$build" "$@"
fi

# Standard input is not the terminal, so the client stays in the foreground
# instead of detaching, and this script sees it exit.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: running under Xvfb." >&2
    exec xvfb-run -a "$build/bin/ostrel" "$@" </dev/null
fi
exec "$build/bin/ostrel" "$@" </dev/null
