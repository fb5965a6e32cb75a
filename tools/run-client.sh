#!/usr/bin/env bash
# Runs the client from a build directory. A build with the demo deployment
# gets the demo web service on loopback beside it (unless one already
# answers), stopped again when the client exits.
set -euo pipefail
build="$1"
shift
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

service_pid=""
stop_service() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
}
trap stop_service EXIT

deployment_dir="$(sed -n 's/^OSTREL_DEPLOYMENT_DIR:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"
service="$build/bin/ostrel-demo-service"
if [ -n "$deployment_dir" ] && [ -x "$service" ] \
    && [ "$(realpath "$deployment_dir")" = "$(realpath "$root/deployment/demo")" ]; then
    # The first API mirror of the deployment: http://host:port/...
    api="$(sed -n 's/^primary=//p' "$deployment_dir/deployment.ini" | head -n 1)"
    hostport="${api#*://}"
    hostport="${hostport%%/*}"
    host="${hostport%:*}"
    port="${hostport##*:}"
    answers() { (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; }
    if ! answers; then
        "$service" --deployment "$deployment_dir/deployment.ini" >"$build/demo-service.log" 2>&1 &
        service_pid=$!
        for _ in $(seq 50); do
            answers && break
            kill -0 "$service_pid" 2>/dev/null || break
            sleep 0.1
        done
        echo "Demo web service started (log: $build/demo-service.log)." >&2
    fi
fi

# Standard input is not the terminal, so the client stays in the foreground
# instead of detaching, and this script sees it exit.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: running under Xvfb." >&2
    xvfb-run -a "$build/bin/ostrel" "$@" </dev/null
else
    "$build/bin/ostrel" "$@" </dev/null
fi
