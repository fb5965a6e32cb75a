#!/usr/bin/env bash
# Runs the client of a demo build together with everything it connects to:
# the demo web service, one loopback OpenVPN server per protocol and port the
# client offers (tools/demo/servers.txt) and a V2Ray server for the demo
# proxy entries (tools/demo/v2ray-server.json.in), which is also the user's
# own SOCKS5 proxy the list offers at 127.0.0.1 port 1080.
#
#   tools/demo.sh BUILD_DIR [client arguments...]
#
# All of it runs in private network, mount and process namespaces: the
# tunnel devices, the kill-switch rules, the resolver file (a private layer
# over /etc), /tmp, /run (with the client's root-only state in /run/ostrel)
# and every process live and die with them, so nothing of
# the demo stays on the host once the client exits, however it ends. The
# window shows on the user's display: the X socket directory stays visible
# (the abstract socket of the display lives in the host's network namespace,
# the file socket in /tmp/.X11-unix does not). Without a display the client
# runs under Xvfb. Needs root (tun devices, namespaces).
#
# OSTREL_DEMO_CLIENT names another program to run in place of the client
# (the demo test runs itself there); OSTREL_DEMO_TIMEOUT (seconds) bounds
# the whole run; OSTREL_DEMO_SHARED_DIR names a directory of this machine
# that the programs inside reach at the same path, wherever it lies (the
# screenshot tool writes its pictures there).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [client arguments...]" >&2; exit 2; }
build="$(cd "$1" && pwd)"
shift

# The demo account every demo server accepts.
readonly demo_user="demo"
readonly demo_password="demo"

deployment="$root/deployment/demo"
fixtures="$root/tests/fixtures/openvpn"
pki="$fixtures/demo-pki"
run="$build/demo-run"

say() { echo "demo: $*" >&2; }

if [ "${OSTREL_DEMO_INSIDE:-}" != 1 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        say "the demo needs root: its tunnels, firewall rules and resolver file live in namespaces of its own."
        say "Run it as root, e.g. sudo -E $0 $build"
        exit 1
    fi
    for program in unshare ip openvpn v2ray iptables; do
        command -v "$program" >/dev/null || { say "$program is missing (tools/install-deps.sh installs it)"; exit 1; }
    done
    case "${DISPLAY:-}" in
        ""|:*|unix:*) ;;
        *) say "DISPLAY=$DISPLAY is reached over the network, which the demo's own network namespace cannot do;"
           say "the client runs under Xvfb instead."
           unset DISPLAY ;;
    esac
    if [ -n "${DISPLAY:-}" ] && [ -z "${XAUTHORITY:-}" ] && [ -r "$HOME/.Xauthority" ]; then
        export XAUTHORITY="$HOME/.Xauthority"
    fi
    mkdir -p "$run"
    if [ -n "${OSTREL_DEMO_SHARED_DIR:-}" ]; then
        [ -d "$OSTREL_DEMO_SHARED_DIR" ] || { say "OSTREL_DEMO_SHARED_DIR=$OSTREL_DEMO_SHARED_DIR is no directory"; exit 1; }
        OSTREL_DEMO_SHARED_DIR="$(cd "$OSTREL_DEMO_SHARED_DIR" && pwd)"
        export OSTREL_DEMO_SHARED_DIR
    fi
    export OSTREL_DEMO_INSIDE=1
    limit=()
    [ -n "${OSTREL_DEMO_TIMEOUT:-}" ] && limit=(timeout --kill-after=10 "$OSTREL_DEMO_TIMEOUT")
    # --kill-child: when unshare ends, so does the namespace's first process,
    # and with it every process of the namespace.
    exec "${limit[@]}" unshare --net --mount --pid --fork --kill-child --mount-proc --propagation private \
        -- bash "$here/demo.sh" "$build" "$@"
fi

# Inside the namespaces; this shell is the first process of the process
# namespace. It reacts only to signals it traps.
client_pid=""
stop_all() {
    trap - EXIT INT TERM HUP
    if [ -n "$client_pid" ] && kill -0 "$client_pid" 2>/dev/null; then
        kill -TERM "$client_pid" 2>/dev/null || true
        for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
    fi
    # Every other process of the namespace (the servers daemonised).
    local others
    others="$(ps -e -o pid= | awk -v self=$$ '$1 != self && $1 != 1')"
    [ -n "$others" ] && kill -TERM $others 2>/dev/null || true
    for _ in $(seq 50); do
        others="$(ps -e -o pid=,stat= | awk -v self=$$ '$1 != self && $1 != 1 && $2 !~ /^Z/')"
        [ -z "$others" ] && break
        sleep 0.1
    done
    say "stopped; nothing of the demo is left on this machine."
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

ip link set lo up

# The shared directory, held open before the mounts below hide anything.
shared_dir="${OSTREL_DEMO_SHARED_DIR:-}"
[ -z "$shared_dir" ] || exec 7<"$shared_dir"

# The network devices of this namespace under /sys/class/net.
mount -t sysfs ostrel-demo-sys /sys

# Scratch space that vanishes with the namespace.
mount -t tmpfs ostrel-demo "$run"

# A private layer over /etc: the DNS script replaces /etc/resolv.conf there.
mkdir "$run/etc-upper" "$run/etc-work"
mount -t overlay ostrel-demo-etc -o "lowerdir=/etc,upperdir=$run/etc-upper,workdir=$run/etc-work" /etc

# A private /run that still shows the session's runtime directory (the
# Wayland display and the session bus live there).
runtime_dir=""
case "${XDG_RUNTIME_DIR:-}" in
    /run/?*) [ -d "$XDG_RUNTIME_DIR" ] && runtime_dir="$XDG_RUNTIME_DIR" ;;
esac
if [ -n "$runtime_dir" ]; then
    mkdir "$run/runtime"
    mount --bind "$runtime_dir" "$run/runtime"
fi
mount -t tmpfs -o mode=0755 ostrel-demo-run /run
if [ -n "$runtime_dir" ]; then
    mkdir -p "$runtime_dir"
    mount --move "$run/runtime" "$runtime_dir"
fi

# A private /tmp that still shows the display's socket directory.
if [ -n "${XAUTHORITY:-}" ] && [ -r "$XAUTHORITY" ]; then
    cp "$XAUTHORITY" "$run/Xauthority"
    export XAUTHORITY="$run/Xauthority"
fi
# Only with a display to reach: the demo's own Xvfb would otherwise put its
# socket into the machine's directory, in place of a running server's of the
# same number, which xvfb-run cannot see behind the private /tmp.
if [ -n "${DISPLAY:-}" ] && [ -d /tmp/.X11-unix ]; then
    mkdir "$run/x11"
    mount --bind /tmp/.X11-unix "$run/x11"
fi
# A clone or build directory below /tmp is carried over into the new /tmp
# through descriptors opened before the old one is hidden.
exec 8<"$root" 9<"$build"
mount -t tmpfs -o mode=1777 ostrel-demo-tmp /tmp
case "$root/" in
    /tmp/*) mkdir -p "$root" && mount --no-canonicalize --rbind /proc/self/fd/8 "$root" ;;
esac
case "$build/" in
    "$root"/*) ;;
    /tmp/*) mkdir -p "$build" && mount --no-canonicalize --rbind /proc/self/fd/9 "$build" ;;
esac
exec 8<&- 9<&-
if [ -d "$run/x11" ]; then
    mkdir /tmp/.X11-unix
    mount --move "$run/x11" /tmp/.X11-unix
fi
# The shared directory at its own path, now that every private mount is made.
if [ -n "$shared_dir" ]; then
    mkdir -p "$shared_dir"
    mount --no-canonicalize --rbind /proc/self/fd/7 "$shared_dir"
    exec 7<&-
fi

# The V2Ray client beside the executable, in a private layer over the build's
# program directory.
mkdir "$run/bin-upper" "$run/bin-work"
mount -t overlay ostrel-demo-bin -o "lowerdir=$build/bin,upperdir=$run/bin-upper,workdir=$run/bin-work" "$build/bin"
printf '#!/bin/sh\nexec %s "$@"\n' "$(command -v v2ray)" > "$build/bin/v2ray"
chmod 755 "$build/bin/v2ray"

answers_tcp() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
wait_tcp() {
    local port="$1" pid="$2"
    for _ in $(seq 100); do
        answers_tcp "$port" && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# The demo web service.
"$build/bin/ostrel-demo-service" --deployment "$deployment/deployment.ini" >"$run/demo-service.log" 2>&1 &
service_pid=$!
primary="$(sed -n 's/^primary=http:\/\/127\.0\.0\.1:\([0-9]*\).*/\1/p' "$deployment/deployment.ini" | head -n 1)"
wait_tcp "$primary" "$service_pid" || { cat "$run/demo-service.log" >&2; say "the demo web service did not start"; exit 1; }

# The OpenVPN servers, one subnet each, and the V2Ray server.
printf '%s\n' "$demo_password" | "$fixtures/ovpn-server.sh" user "$demo_user" > "$run/users"
ready="${OSTREL_DEMO_READY:-$run/ready}"
server_count="$(awk '$1 !~ /^#/ && NF > 2 { n += NF - 2 } END { print n + 0 }' "$here/demo/servers.txt")"

start_servers() {
    local subnet=1 server_dirs=() family transport ports port dir keys directives
    while read -r family transport ports; do
        case "$family" in
            ""|"#"*) continue ;;
            ecc) keys=(--ca "$deployment/ca-ec.pem" --cert "$pki/server-ec-secp256k1.crt" --key "$pki/server-ec-secp256k1.key")
                 directives=(--directive "tls-crypt $deployment/static-key-c.key" --directive "auth SHA512"
                             --directive "tls-groups secp256k1:X25519:prime256v1") ;;
            256) keys=(--ca "$deployment/ca-rsa.pem" --cert "$pki/server-rsa.crt" --key "$pki/server-rsa.key")
                 directives=(--directive "tls-crypt $deployment/static-key-b.key" --directive "auth SHA512") ;;
            128) keys=(--ca "$deployment/ca-rsa.pem" --cert "$pki/server-rsa.crt" --key "$pki/server-rsa.key")
                 directives=(--directive "tls-auth $deployment/static-key-a.key 0" --directive "auth SHA256"
                             --directive "comp-lzo") ;;
            *) say "unknown family in servers.txt: $family"; return 1 ;;
        esac
        for port in $ports; do
            dir="$run/openvpn/$family-$transport-$port"
            mkdir -p "$dir"
            # The servers share this network namespace with the client. A
            # server's device (tun-demoN for the subnet 10.98.N.0) holds no
            # address, so the tunnel's gateway (the server's address) is no
            # local address here and the routes the client adds through it
            # lead into the client's own device, as with a server elsewhere.
            "$fixtures/ovpn-server.sh" start --dir "$dir" --proto "$transport" --port "$port" "${keys[@]}" \
                --users "$run/users" --net "10.98.$subnet.0" "${directives[@]}" \
                --directive "dev tun-demo$subnet" --directive "ifconfig-noexec" \
                --directive "up $here/demo/server-up.sh" >"$dir/start.log" 2>&1 &
            server_dirs+=("$!:$dir")
            subnet=$((subnet + 1))
        done
    done < "$here/demo/servers.txt"

    sed -e "s|@CERT@|$pki/server-rsa.crt|g" -e "s|@KEY@|$pki/server-rsa.key|g" \
        "$here/demo/v2ray-server.json.in" > "$run/v2ray-server.json"
    v2ray -config "$run/v2ray-server.json" >"$run/v2ray-server.log" 2>&1 &
    local v2ray_pid=$! failed=0 start
    for start in "${server_dirs[@]}"; do
        if ! wait "${start%%:*}"; then
            say "OpenVPN server ${start##*/} did not start:"
            cat "${start#*:}/start.log" >&2
            failed=1
        fi
    done
    for port in $(sed -n 's/.*"port": *\([0-9]*\).*/\1/p' "$run/v2ray-server.json"); do
        if ! wait_tcp "$port" "$v2ray_pid"; then
            cat "$run/v2ray-server.log" >&2
            say "the V2Ray server did not start"
            failed=1
            break
        fi
    done
    [ "$failed" = 0 ] || return 1
    say "${#server_dirs[@]} OpenVPN servers, the V2Ray proxies and the local SOCKS5 proxy are ready."
    : > "$ready"
}

# The servers start in the background while the client starts; the ready
# file ($OSTREL_DEMO_READY) appears once all of them answer.
start_servers &

cat >&2 <<EOF
demo: The client, the demo web service, $server_count OpenVPN servers and a V2Ray server (the
demo: proxies, and the local SOCKS5 proxy at 127.0.0.1:1080) run on loopback in namespaces
demo: of their own: nothing here touches this machine's network, firewall or resolver.
demo: Every protocol but XOR connects on each of its ports, on its TCP ports also through
demo: every proxy entry.
demo: Demo account:  user name "$demo_user", password "$demo_password"
EOF

client=("${OSTREL_DEMO_CLIENT:-$build/bin/ostrel}")
# Standard input is not the terminal, so the client stays in the foreground
# instead of detaching, and this script sees it exit.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    say "no display found: running under Xvfb."
    xvfb-run -a -s "-screen 0 1280x1024x24" "${client[@]}" "$@" </dev/null &
else
    "${client[@]}" "$@" </dev/null &
fi
client_pid=$!
status=0
wait "$client_pid" || status=$?
client_pid=""
exit "$status"
