#!/bin/bash
#
# Opens a web address in the desktop's browser and returns at once.
# Usage: open_link.sh URL
#
# Only http and https addresses are opened. When the client runs as root
# through sudo, the browser is started as the desktop user who called sudo.

PATH="${PATH:-/usr/local/bin:/usr/bin:/bin}"
export LC_ALL=C

url="${1:-}"

if ! [[ "$url" =~ ^https?://[!-~]+$ ]] || [[ "$url" == *[\"\'\`\\]* ]]; then
    echo "open_link.sh: not a web address: $url"
    exit 2
fi

if ! command -v xdg-open >/dev/null 2>&1; then
    echo "open_link.sh: xdg-open not found"
    exit 3
fi

if [ "$(id -u)" = "0" ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != "root" ] \
    && command -v sudo >/dev/null 2>&1; then
    setsid -f sudo -H -E -u "$SUDO_USER" -- xdg-open "$url" </dev/null >/dev/null 2>&1
else
    setsid -f xdg-open "$url" </dev/null >/dev/null 2>&1
fi
echo "opening $url"
exit 0
