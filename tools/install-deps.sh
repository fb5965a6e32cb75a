#!/usr/bin/env bash
# Installs the Debian packages the client, its tests and its tools need.
# Only missing packages are installed; needs root for that (or sudo).
set -euo pipefail

step="starting"
# shellcheck disable=SC2154 # status is set inside the trap itself
trap 'status=$?; echo "install-deps: failed while $step (exit code $status)" >&2; exit $status' ERR

packages=(
    cmake make g++ pkg-config zlib1g-dev libarchive-dev zip unzip
    qtbase5-dev qtdeclarative5-dev qtquickcontrols2-5-dev
    qml-module-qtquick2 qml-module-qtquick-layouts qml-module-qtquick-window2
    qml-module-qtquick-templates2 qml-module-qtquick-controls2 qml-module-qtquick-dialogs
    qml-module-qtquick-controls qml-module-qtgraphicaleffects libqt5svg5
    xvfb xauth libgl1-mesa-dri
    openvpn v2ray iptables iproute2 iputils-ping openssl util-linux procps xdg-utils
    pkexec desktop-file-utils libxml2-utils libfaketime
    clang libclang-rt-14-dev clang-format shellcheck qtdeclarative5-dev-tools
)

step="looking for dpkg-query"
if ! command -v dpkg-query >/dev/null; then
    echo "install-deps: dpkg-query not found; this script installs Debian packages and needs a Debian system" >&2
    exit 1
fi

# One query for all of them: a query per package costs seconds on a busy
# machine. dpkg-query exits 1 when any package is unknown or not installed and
# still lists the others, so exit code 1 only means "some are missing". A
# query that cannot read the package database at all (exit code 2 or more, or
# errors other than "no packages found" with nothing found installed) stops
# here with dpkg-query's own words instead of installing everything.
step="asking dpkg-query which packages are installed"
query_errors="$(mktemp)"
trap 'rm -f "$query_errors"' EXIT
query_status=0
listing="$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>"$query_errors")" || query_status=$?
installed=" $(awk '$2 == "install" && $3 == "ok" && $4 == "installed" { printf "%s ", $1 }' <<<"$listing")"
other_errors="$(grep -v 'no packages found matching' "$query_errors" || true)"
if [ "$query_status" -gt 1 ] || { [ -n "$other_errors" ] && [ -z "${installed// /}" ]; }; then
    echo "install-deps: dpkg-query cannot tell which packages are installed (exit code $query_status); nothing installed:" >&2
    if [ -n "$other_errors" ]; then
        printf '%s\n' "$other_errors" >&2
    else
        cat "$query_errors" >&2
    fi
    exit 1
fi
missing=()
for p in "${packages[@]}"; do
    [[ "$installed" == *" $p "* ]] || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    step="looking for sudo (installing packages needs root)"
    if ! command -v sudo >/dev/null; then
        echo "install-deps: not root and sudo not found; run as root to install: ${missing[*]}" >&2
        exit 1
    fi
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
step="updating the package lists (apt-get update)"
"${sudo_cmd[@]}" apt-get update -q
step="installing ${missing[*]} (apt-get install)"
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
