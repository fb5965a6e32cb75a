#!/bin/sh
# "up" script of the demo's OpenVPN servers, which run with "ifconfig-noexec"
# (tools/demo.sh): the server's tun device comes up without an address.
# OpenVPN passes the device and its MTU first.
set -eu
exec ip link set dev "$1" mtu "$2" up
