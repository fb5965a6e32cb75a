#!/usr/bin/env bash
# Installs the Debian packages the client, its tests and its tools need.
# Only missing packages are installed; needs root for that.
set -euo pipefail

packages=(
    cmake make g++ pkg-config zlib1g-dev
    qtbase5-dev qtbase5-private-dev qtdeclarative5-dev qtquickcontrols2-5-dev
    qml-module-qtquick2 qml-module-qtquick-layouts qml-module-qtquick-window2
    qml-module-qtquick-templates2 qml-module-qtquick-controls2 qml-module-qtquick-dialogs
    qml-module-qtquick-controls qml-module-qtgraphicaleffects libqt5svg5
    xvfb xauth libgl1-mesa-dri
    openvpn v2ray iptables iproute2 iputils-ping openssl util-linux procps xdg-utils
    pkexec desktop-file-utils libxml2-utils
    clang libclang-rt-14-dev
    zlib1g-dev
)

# One query for all of them: a query per package costs seconds on a busy machine.
installed=" $(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null \
    | awk '$2 == "install" && $3 == "ok" && $4 == "installed" { printf "%s ", $1 }')"
missing=()
for p in "${packages[@]}"; do
    [[ "$installed" == *" $p "* ]] || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
