#!/usr/bin/env bash
# Makes the README's screenshots from the real client's window: the demo
# (tools/demo.sh) runs under Xvfb with the screenshot maker in the client's
# place, which connects with the demo account and saves the window in the
# dark and the light palette. Needs root, like the demo.
#   tools/screenshots.sh [BUILD_DIR] [OUTPUT_DIR]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
build="${1:-$root/build}"
out="$(mkdir -p "${2:-$root/docs/screenshots}" && cd "${2:-$root/docs/screenshots}" && pwd)"
jobs="${OSTREL_JOBS:-$(nproc)}"

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$jobs" --target ostrel-screenshot ostrel-demo-service
build="$(cd "$build" && pwd)"

# Settings of its own, so the user's stay as they are.
home="$build/screenshot-home"
rm -rf "$home"
mkdir -p "$home"
# The demo has a /tmp and a /run of its own: the output directory is shared
# into it, so that it is reached wherever it lies.
started="$(date +%s)"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
    QT_QUICK_BACKEND=software OSTREL_DEMO_CLIENT="$build/bin/ostrel-screenshot" OSTREL_DEMO_TIMEOUT=600 \
    OSTREL_DEMO_READY="$build/demo-run/ready" OSTREL_DEMO_SHARED_DIR="$out" \
    "$here/demo.sh" "$build" "$out"
# Only pictures written by this run count, not those of an earlier one.
missing=0
for picture in "$out"/connected-dark.png "$out"/connected-light.png; do
    if [ -s "$picture" ] && [ "$(stat -c %Y "$picture")" -ge "$started" ]; then
        ls -l "$picture"
    else
        echo "screenshots: $picture was not written" >&2
        missing=1
    fi
done
exit "$missing"
