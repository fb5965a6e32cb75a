#!/bin/bash
#
# Opens a web address in the desktop's browser.
# Usage: open_link.sh URL
#
# Only http and https addresses are opened. When the client runs as root
# through sudo or pkexec, the browser is started as the desktop user who
# called them (SUDO_USER, PKEXEC_UID); when that user cannot be found the
# script says so on standard error and opens nothing.
#
# The opener runs in a session of its own, its input and output detached
# from the caller's. The script waits a short while for it: an opener that
# fails in that time (xdg-open exits 3 where no browser can be started) is a
# failure of the script; one that succeeds, or still runs then (a browser
# that stays open), counts as opened, and the script returns at once.
# The address is shown quoted, so that no character of it reaches the
# caller's log raw.

PATH="${PATH:-/usr/local/bin:/usr/bin:/bin}"
export LC_ALL=C

# How long the opener's exit is waited for, in seconds.
readonly opener_wait_seconds=2

url="${1:-}"

if ! [[ "$url" =~ ^https?://[!-~]+$ ]] || [[ "$url" == *[\"\'\`\\]* ]]; then
    echo "open_link.sh: not a web address: ${url@Q}"
    exit 2
fi

if ! command -v xdg-open >/dev/null 2>&1; then
    echo "open_link.sh: xdg-open not found"
    exit 3
fi

# Started by root through sudo (SUDO_USER) or pkexec (PKEXEC_UID): the browser
# runs as the user who started the client, never as root. Where that user
# cannot be found, nothing is opened.
refuse() {
    echo "open_link.sh: $1; not opening ${url@Q} as root" >&2
    exit 4
}

# Runs the opener command given as arguments and waits for it (see above).
open_with() {
    local status
    # Only the exit code comes back through the pipe; the waiting shell
    # holds none of the caller's descriptors.
    exec 3< <(exec </dev/null 2>/dev/null; setsid -w "$@" >/dev/null; echo "$?")
    if read -r -t "$opener_wait_seconds" status <&3 && [ "$status" != 0 ]; then
        echo "open_link.sh: the opener exited with $status; not opened: ${url@Q}"
        exit 5
    fi
    exec 3<&-
    echo "opening ${url@Q}"
    exit 0
}

if [ "$(id -u)" = "0" ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != "root" ]; then
    id -u -- "$SUDO_USER" >/dev/null 2>&1 || refuse "the user who started the client through sudo ($SUDO_USER) is unknown"
    command -v sudo >/dev/null 2>&1 || refuse "sudo not found to open the link as $SUDO_USER"
    open_with sudo -H -E -u "$SUDO_USER" -- xdg-open "$url"
elif [ "$(id -u)" = "0" ] && [ -n "${PKEXEC_UID+set}" ] && [ "${PKEXEC_UID}" != "0" ]; then
    [[ "$PKEXEC_UID" =~ ^[0-9]+$ ]] || refuse "the user who started the client through pkexec (PKEXEC_UID=${PKEXEC_UID@Q}) is unknown"
    entry="$(getent passwd "$PKEXEC_UID" 2>/dev/null)" || entry=""
    IFS=: read -r user _ uid gid _ home _ <<<"$entry"
    if [ -z "$user" ] || [ "$uid" != "$PKEXEC_UID" ] || [ -z "$gid" ]; then
        refuse "the user who started the client through pkexec (uid $PKEXEC_UID) is unknown"
    fi
    command -v setpriv >/dev/null 2>&1 || refuse "setpriv not found to open the link as $user"
    # pkexec keeps the display; the user's own home, name and session bus
    # come with the user.
    runtime="/run/user/$uid"
    session=()
    if [ -d "$runtime" ]; then
        session=(XDG_RUNTIME_DIR="$runtime")
        [ -S "$runtime/bus" ] && session+=(DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus")
    fi
    open_with env HOME="$home" USER="$user" LOGNAME="$user" "${session[@]}" \
        setpriv --reuid="$uid" --regid="$gid" --init-groups -- xdg-open "$url"
else
    open_with xdg-open "$url"
fi
