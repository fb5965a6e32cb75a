#!/bin/bash
#
# Opens a web address in the desktop's browser and returns at once.
# Usage: open_link.sh URL
#
# Only http and https addresses are opened. When the client runs as root
# through sudo or pkexec, the browser is started as the desktop user who
# called them (SUDO_USER, PKEXEC_UID); when that user cannot be found the
# script says so on standard error and opens nothing.

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

# Started by root through sudo (SUDO_USER) or pkexec (PKEXEC_UID): the browser
# runs as the user who started the client, never as root. Where that user
# cannot be found, nothing is opened.
refuse() {
    echo "open_link.sh: $1; not opening $url as root" >&2
    exit 4
}

if [ "$(id -u)" = "0" ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != "root" ]; then
    id -u -- "$SUDO_USER" >/dev/null 2>&1 || refuse "the user who started the client through sudo ($SUDO_USER) is unknown"
    command -v sudo >/dev/null 2>&1 || refuse "sudo not found to open the link as $SUDO_USER"
    setsid -f sudo -H -E -u "$SUDO_USER" -- xdg-open "$url" </dev/null >/dev/null 2>&1
elif [ "$(id -u)" = "0" ] && [ -n "${PKEXEC_UID+set}" ] && [ "${PKEXEC_UID}" != "0" ]; then
    [[ "$PKEXEC_UID" =~ ^[0-9]+$ ]] || refuse "the user who started the client through pkexec (PKEXEC_UID=$PKEXEC_UID) is unknown"
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
    setsid -f env HOME="$home" USER="$user" LOGNAME="$user" "${session[@]}" \
        setpriv --reuid="$uid" --regid="$gid" --init-groups -- xdg-open "$url" </dev/null >/dev/null 2>&1
else
    setsid -f xdg-open "$url" </dev/null >/dev/null 2>&1
fi
echo "opening $url"
exit 0
