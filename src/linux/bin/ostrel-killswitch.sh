#!/bin/bash
#
# ostrel kill switch: while it is on, outgoing traffic may leave only through
# the VPN tunnel (tun+), the loopback, to the VPN server's address and, when
# asked for, inside the local network. IPv4 and IPv6 are both held.
#
# Usage: ostrel-killswitch.sh {enable|restore|disable|replace [ server IP]|localnetwork allow|localnetwork deny}
#        ostrel-killswitch.sh status | test
#
# Each command prints one answer line; the output of iptables itself is
# discarded. The kill switch holds an address family while the chain
# "ostrelallowedip" exists in that family's filter table; IPv4 and IPv6 are
# judged, saved and restored each on their own, so that an outside change to
# one family never decides what happens to the other.

PATH="/usr/sbin:/sbin:/usr/bin:/bin:${PATH:-}"

ALLOWED_CHAIN="ostrelallowedip"
LAN_CHAIN="lan"
TUNNEL_IF="tun+"

SAVE_DIR="${HOME:-/root}/.local/share/ostrel"
SAVED_RULES="$SAVE_DIR/iptables.original"
SAVED_RULES6="$SAVE_DIR/ip6tables.original"
# First line of a rules file written by "enable"; iptables-restore skips it
# as a comment. "disable" restores only files that carry it.
SAVE_MARK="# ostrel-killswitch.sh enable: rules in force before the kill switch"

LAN4="192.168.0.0/16,10.0.0.0/8,172.16.0.0/12"
LAN6="fe80::/10,fc00::/7"

USAGE="Usage: ostrel-killswitch.sh {enable|restore|disable|replace [ server IP]|localnetwork allow|localnetwork deny}"

ipt4() { iptables -w 5 "$@" >/dev/null 2>&1; }
ipt6() { ip6tables -w 5 "$@" >/dev/null 2>&1; }
ipt_both() { ipt4 "$@"; ipt6 "$@"; }

is_ipv6() { [[ "$1" == *:* ]]; }

# $1: iptables or ip6tables.
family_on() {
    "$1" -w 5 -n -L "$ALLOWED_CHAIN" >/dev/null 2>&1
}

kill_switch4_on() { family_on iptables; }
kill_switch6_on() { family_on ip6tables; }

# Flushes the rules and deletes the user chains of the given tables, for one
# address family ("ipt4" or "ipt6").
flush_tables() {
    local ipt="$1"
    shift
    local table
    for table in "$@"; do
        "$ipt" -t "$table" -F
        "$ipt" -t "$table" -X
    done
}

# Saves one family's rules in force, marked as written by "enable". A stale
# file from an earlier run must never be taken for this one, and rules that
# hold the kill switch's own chain are never saved as the user's.
save_one() {
    local saver="$1" file="$2" rules
    mkdir -p "$SAVE_DIR" 2>/dev/null
    rm -f "$file"
    if rules="$("$saver" 2>/dev/null)" && ! holds_own_chain "$rules"; then
        (umask 077 && printf '%s\n%s\n' "$SAVE_MARK" "$rules" >"$file") 2>/dev/null || rm -f "$file"
    fi
}

# True when the rules text (iptables-save form) declares the kill switch's
# chain.
holds_own_chain() {
    case "$1" in
    *":$ALLOWED_CHAIN "*) return 0 ;;
    esac
    return 1
}

# True when the file was written by "enable".
saved_by_enable() {
    local file="$1" first
    [ -f "$file" ] && [ -s "$file" ] || return 1
    IFS= read -r first <"$file" || return 1
    [ "$first" = "$SAVE_MARK" ] || return 1
    ! holds_own_chain "$(cat "$file" 2>/dev/null)"
}

build_rules() {
    local ipt="$1"
    "$ipt" -N "$ALLOWED_CHAIN"
    "$ipt" -N "$LAN_CHAIN"
    "$ipt" -A INPUT -m state --state RELATED,ESTABLISHED -j ACCEPT
    "$ipt" -A INPUT -i "$TUNNEL_IF" -j ACCEPT
    "$ipt" -A OUTPUT -o "$TUNNEL_IF" -j ACCEPT
    "$ipt" -A OUTPUT -o lo -j ACCEPT
    if [ "$ipt" = ipt6 ]; then
        # Neighbour discovery carries no user traffic, and without it not
        # even the server (or the router towards it) can be reached.
        local type
        for type in router-solicitation neighbour-solicitation neighbour-advertisement; do
            "$ipt" -A OUTPUT -p ipv6-icmp --icmpv6-type "$type" -j ACCEPT
        done
    fi
    "$ipt" -A OUTPUT -m state --state ESTABLISHED,RELATED -j ACCEPT
}

finish_rules() {
    local ipt="$1"
    "$ipt" -A OUTPUT -j "$ALLOWED_CHAIN"
    "$ipt" -A OUTPUT -j "$LAN_CHAIN"
    "$ipt" -A OUTPUT -j DROP
}

# Allows the server address in the chain of its own family; the other
# family's chain stays empty.
allow_server() {
    local server="$1" both="$2"
    local ipt=ipt4
    if is_ipv6 "$server"; then
        ipt=ipt6
    fi
    "$ipt" -A "$ALLOWED_CHAIN" -d "$server" -j ACCEPT
    if [ "$both" = "both" ]; then
        "$ipt" -A "$ALLOWED_CHAIN" -s "$server" -j ACCEPT
    fi
}

enable_kill_switch() {
    local server="$1" on4=no on6=no
    kill_switch4_on && on4=yes
    kill_switch6_on && on6=yes
    if [ "$on4" = yes ] || [ "$on6" = yes ]; then
        echo "iptables rules overwritten"
    fi
    # A family the kill switch holds keeps the rules saved when it took it;
    # the other one's rules in force are the user's and are saved now.
    [ "$on4" = yes ] || save_one iptables-save "$SAVED_RULES"
    [ "$on6" = yes ] || save_one ip6tables-save "$SAVED_RULES6"

    enable_family ipt4 4 "$server"
    enable_family ipt6 6 "$server"
    echo "ENABLED"
}

# The kill switch's rules of one family (4 or 6) for the filter table, as
# iptables-restore lines.
rule_lines() {
    local family="$1" server="$2" type
    echo "-N $ALLOWED_CHAIN"
    echo "-N $LAN_CHAIN"
    echo "-A INPUT -m state --state RELATED,ESTABLISHED -j ACCEPT"
    echo "-A INPUT -i $TUNNEL_IF -j ACCEPT"
    echo "-A OUTPUT -o $TUNNEL_IF -j ACCEPT"
    echo "-A OUTPUT -o lo -j ACCEPT"
    if [ "$family" = 6 ]; then
        for type in router-solicitation neighbour-solicitation neighbour-advertisement; do
            echo "-A OUTPUT -p ipv6-icmp --icmpv6-type $type -j ACCEPT"
        done
    fi
    echo "-A OUTPUT -m state --state ESTABLISHED,RELATED -j ACCEPT"
    if [ -n "$server" ] && [ "$(family_of "$server")" = "$family" ]; then
        echo "-A $ALLOWED_CHAIN -d $server -j ACCEPT"
    fi
    echo "-A OUTPUT -j $ALLOWED_CHAIN"
    echo "-A OUTPUT -j $LAN_CHAIN"
    echo "-A OUTPUT -j DROP"
}

family_of() {
    if is_ipv6 "$1"; then echo 6; else echo 4; fi
}

# Empties the filter, nat and mangle tables of one family and builds the
# kill switch there: in one step with iptables-restore (fast, and nothing
# passes half-built), or one command at a time when that is refused. A
# server text that is not a plain address is never put into a rules file.
enable_family() {
    local ipt="$1" family="$2" server="$3" restorer=iptables-restore table
    [ "$family" = 6 ] && restorer=ip6tables-restore
    case "$server" in
    *[!A-Za-z0-9.:/]*) ;;
    *)
        if {
            echo "*filter"
            echo "-F"
            echo "-X"
            rule_lines "$family" "$server"
            echo "COMMIT"
            for table in nat mangle; do
                printf '*%s\n-F\n-X\nCOMMIT\n' "$table"
            done
        } | "$restorer" -w 5 --noflush >/dev/null 2>&1; then
            return 0
        fi
        ;;
    esac
    flush_tables "$ipt" filter nat mangle
    build_rules "$ipt"
    if [ -n "$server" ] && [ "$(family_of "$server")" = "$family" ]; then
        "$ipt" -A "$ALLOWED_CHAIN" -d "$server" -j ACCEPT
    fi
    finish_rules "$ipt"
}

# Takes the kill switch's rules out of one family it holds and puts back the
# rules saved when it took the family. A family it does not hold is left as
# it is: its rules are someone else's.
disable_family() {
    local ipt="$1" lister="$2" restorer="$3" file="$4"
    family_on "$lister" || return 0
    flush_tables "$ipt" filter
    if saved_by_enable "$file"; then
        "$restorer" <"$file" >/dev/null 2>&1
    fi
}

disable_kill_switch() {
    disable_family ipt4 iptables iptables-restore "$SAVED_RULES"
    disable_family ipt6 ip6tables ip6tables-restore "$SAVED_RULES6"
    echo "DISABLED"
}

restore_saved() {
    if [ -f "$SAVED_RULES" ] && ! holds_own_chain "$(cat "$SAVED_RULES" 2>/dev/null)"; then
        iptables-restore <"$SAVED_RULES" >/dev/null 2>&1
    fi
    if [ -f "$SAVED_RULES6" ] && ! holds_own_chain "$(cat "$SAVED_RULES6" 2>/dev/null)"; then
        ip6tables-restore <"$SAVED_RULES6" >/dev/null 2>&1
    fi
    echo "RESTORED"
}

replace_server() {
    local server="$1"
    ipt_both -F "$ALLOWED_CHAIN"
    allow_server "$server" both
    echo "OK"
}

local_network() {
    case "$1" in
    allow)
        # One rule for each family; iptables expands the address lists into
        # one entry per source and destination pair.
        ipt4 -A "$LAN_CHAIN" ! -o "$TUNNEL_IF" -s "$LAN4" -d "$LAN4" -j ACCEPT
        ipt6 -A "$LAN_CHAIN" ! -o "$TUNNEL_IF" -s "$LAN6" -d "$LAN6" -j ACCEPT
        echo "OK (LAN allowed)"
        ;;
    deny)
        ipt_both -F "$LAN_CHAIN"
        echo "OK (LAN blocked)"
        ;;
    esac
}

case "${1:-}" in
enable)
    enable_kill_switch "${2:-}"
    ;;
disable)
    disable_kill_switch
    ;;
restore)
    restore_saved
    ;;
status)
    # A family left alone after an outside change still counts as on, and
    # says so, so that the kill switch can be taken down or built again.
    # Both families are asked at once: the tray asks with a short time-out.
    on4=no
    on6=no
    kill_switch4_on &
    ask4=$!
    kill_switch6_on &
    ask6=$!
    wait "$ask4" && on4=yes
    wait "$ask6" && on6=yes
    if [ "$on4" = yes ]; then
        if [ "$on6" = yes ]; then
            echo "ENABLED status"
        else
            echo "ENABLED status (IPv4 only)"
        fi
    elif [ "$on6" = yes ]; then
        echo "ENABLED status (IPv6 only)"
    else
        echo "DISABLED status"
    fi
    ;;
replace)
    replace_server "${2:-}"
    ;;
localnetwork)
    local_network "${2:-}"
    ;;
test)
    echo "TEST COMMAND EXECUTED"
    ;;
*)
    echo "$USAGE"
    exit 1
    ;;
esac
exit 0
