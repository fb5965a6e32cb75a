#!/usr/bin/env bash
# Runs one of the scripts the README names, as a test: skipped (77) without
# root or without what the demo needs; passes when the script succeeds and
# its output holds every expected text.
#   script-test.sh 'TEXT|TEXT...' COMMAND [ARGUMENTS...]
# An expected "file:PATH" is a file that must be there, not empty, after the
# run. "@TMP@" in the texts and the arguments stands for a new directory
# below /tmp, removed afterwards.
set -uo pipefail
expect="$1"
shift
if [ "$(id -u)" != 0 ]; then
    echo "skipped: needs root, like the demo"
    exit 77
fi
for program in unshare openvpn v2ray iptables-save ip xvfb-run; do
    if ! PATH="$PATH:/usr/sbin:/sbin" command -v "$program" >/dev/null; then
        echo "skipped: $program is not installed"
        exit 77
    fi
done
log="$(mktemp)"
scratch="$(mktemp -d -p /tmp ostrel-script-test.XXXXXX)"
trap 'rm -rf "$log" "$scratch"' EXIT
expect="${expect//@TMP@/$scratch}"
command=("${@//@TMP@/$scratch}")
"${command[@]}" </dev/null 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
if [ "$status" != 0 ]; then
    echo "failed: ${command[*]} ended with $status"
    exit 1
fi
IFS='|' read -ra texts <<<"$expect"
for text in "${texts[@]}"; do
    case "$text" in
        file:*)
            if [ ! -s "${text#file:}" ]; then
                echo "failed: ${text#file:} is not there"
                exit 1
            fi ;;
        *)
            if ! grep -qF -- "$text" "$log"; then
                echo "failed: no \"$text\" in the output"
                exit 1
            fi ;;
    esac
done
