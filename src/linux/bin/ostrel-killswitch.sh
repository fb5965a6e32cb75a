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
#
# The policies of the built-in chains (filter, nat, mangle) are never changed:
# they are the same before, during and after the kill switch. The rules in
# force before the first "enable" are saved in a directory only root can
# enter (/run/ostrel) and stay there, never replaced by a later "enable",
# until "disable" puts them back. Without such a saved file "disable" takes
# away only the kill switch's own chains and rules.

PATH="/usr/sbin:/sbin:/usr/bin:/bin:${PATH:-}"

ALLOWED_CHAIN="ostrelallowedip"
LAN_CHAIN="lan"
TUNNEL_IF="tun+"

# Root-only state: owned by root, mode 0700, checked without following links;
# created when missing, never changed or removed when it is anything else.
SAVE_DIR="/run/ostrel"
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

# True when the root-only directory for the saved rules is there and safe:
# created (mode 0700) when missing, then checked without following links: a
# directory, owned by uid 0, mode exactly 0700. Nothing else is changed.
# Says why not on standard output, as a line starting "ERROR:".
save_dir_ok() {
    local found
    if [ ! -e "$SAVE_DIR" ] && [ ! -L "$SAVE_DIR" ]; then
        mkdir -m 0700 -- "$SAVE_DIR" 2>/dev/null
    fi
    found="$(stat -c '%F:%u:%a' -- "$SAVE_DIR" 2>/dev/null)"
    if [ "$found" != "directory:0:700" ]; then
        echo "ERROR: $SAVE_DIR cannot hold the saved firewall rules safely (${found:-missing and cannot be created}; needed: a directory owned by root with mode 0700)"
        return 1
    fi
    return 0
}

# Saves one family's rules in force, marked as written by "enable", unless
# rules saved by an earlier "enable" are still waiting to be put back: those
# are what the user had, and they are never replaced. Rules that hold the
# kill switch's own chain are never saved as the user's.
save_one() {
    local saver="$1" file="$2" rules tmp
    if saved_by_enable "$file"; then
        return 0
    fi
    rm -f -- "$file"
    if rules="$("$saver" 2>/dev/null)" && ! holds_own_chain "$rules"; then
        tmp="$file.new"
        rm -f -- "$tmp"
        if (umask 077 && printf '%s\n%s\n' "$SAVE_MARK" "$rules" >"$tmp") 2>/dev/null; then
            mv -fT -- "$tmp" "$file" 2>/dev/null || rm -f -- "$tmp"
        else
            rm -f -- "$tmp"
        fi
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
    [ -f "$file" ] && [ ! -L "$file" ] && [ -s "$file" ] || return 1
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
    # Without a safe place for the user's rules nothing is changed.
    save_dir_ok || exit 2
    kill_switch4_on && on4=yes
    kill_switch6_on && on6=yes
    if [ "$on4" = yes ] || [ "$on6" = yes ]; then
        echo "iptables rules overwritten"
    fi
    # A family the kill switch holds keeps the rules saved when it took it;
    # the other one's rules in force are the user's and are saved now,
    # unless rules saved earlier still wait to be put back.
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

# The policies of the built-in chains of one family's filter, nat and mangle
# tables, from its save listing ($1: iptables-save or ip6tables-save), one
# "table chain policy" a line. A table that does not exist is left out.
current_policies() {
    "$1" 2>/dev/null | awk '
        /^\*/ { table = substr($0, 2) }
        /^:[^ ]+ [A-Z]+ / && $2 != "-" && (table == "filter" || table == "nat" || table == "mangle") {
            print table, substr($1, 2), $2
        }'
}

# Sets the policies listed by current_policies again, for one address family
# ("ipt4" or "ipt6").
apply_policies() {
    local ipt="$1" policies="$2" table chain policy
    while read -r table chain policy; do
        [ -n "$policy" ] && "$ipt" -t "$table" -P "$chain" "$policy"
    done <<<"$policies"
}

# Empties the filter, nat and mangle tables of one family and builds the
# kill switch there: in one step with iptables-restore (fast, and nothing
# passes half-built), or one command at a time when that is refused. A
# server text that is not a plain address is never put into a rules file.
# The built-in chains keep their policies: iptables-restore of the nf_tables
# backend sets them to ACCEPT after "-F" unless they are given again.
enable_family() {
    local ipt="$1" family="$2" server="$3" restorer=iptables-restore saver=iptables-save table policies
    [ "$family" = 6 ] && restorer=ip6tables-restore saver=ip6tables-save
    policies="$(current_policies "$saver")"
    case "$server" in
    *[!A-Za-z0-9.:/]*) ;;
    *)
        if {
            for table in filter nat mangle; do
                printf '*%s\n-F\n-X\n' "$table"
                awk -v t="$table" '$1 == t { print "-P", $2, $3 }' <<<"$policies"
                [ "$table" = filter ] && rule_lines "$family" "$server"
                echo "COMMIT"
            done
        } | "$restorer" -w 5 --noflush >/dev/null 2>&1; then
            return 0
        fi
        ;;
    esac
    flush_tables "$ipt" filter nat mangle
    apply_policies "$ipt" "$policies"
    build_rules "$ipt"
    if [ -n "$server" ] && [ "$(family_of "$server")" = "$family" ]; then
        "$ipt" -A "$ALLOWED_CHAIN" -d "$server" -j ACCEPT
    fi
    finish_rules "$ipt"
}

# Takes only the kill switch's own rules and chains out of one family's
# filter table; everything else stays as it is.
remove_own_rules() {
    local ipt="$1" family="$2" line rule round
    while IFS= read -r line; do
        case "$line" in
        "-A INPUT "* | "-A OUTPUT "*)
            read -ra rule <<<"${line#-A }"
            round=0
            while [ "$round" -lt 20 ] && "$ipt" -D "${rule[@]}"; do
                round=$((round + 1))
            done
            ;;
        esac
    done < <(rule_lines "$family" "")
    for line in "$ALLOWED_CHAIN" "$LAN_CHAIN"; do
        "$ipt" -F "$line"
        "$ipt" -X "$line"
    done
}

# Takes the kill switch's rules out of one family it holds and puts back the
# rules saved when it took the family; the saved file is then used up. A
# family it does not hold is left as it is: its rules are someone else's.
# Without a saved file of its own (missing, not written by "enable", or no
# safe directory) only the kill switch's own chains and rules are removed.
disable_family() {
    local ipt="$1" lister="$2" restorer="$3" file="$4" saver="$5" family="$6" policies
    family_on "$lister" || return 0
    policies="$(current_policies "$saver")"
    if [ "$SAVE_DIR_SAFE" = yes ] && saved_by_enable "$file"; then
        flush_tables "$ipt" filter
        apply_policies "$ipt" "$policies"
        if "$restorer" -w 5 <"$file" >/dev/null 2>&1; then
            rm -f -- "$file"
        fi
    else
        remove_own_rules "$ipt" "$family"
        apply_policies "$ipt" "$policies"
    fi
}

# True when the root-only directory is there and safe; creates nothing.
save_dir_safe() {
    [ "$(stat -c '%F:%u:%a' -- "$SAVE_DIR" 2>/dev/null)" = "directory:0:700" ]
}

disable_kill_switch() {
    SAVE_DIR_SAFE=no
    save_dir_safe && SAVE_DIR_SAFE=yes
    disable_family ipt4 iptables iptables-restore "$SAVED_RULES" iptables-save 4
    disable_family ipt6 ip6tables ip6tables-restore "$SAVED_RULES6" ip6tables-save 6
    echo "DISABLED"
}

# Puts back the rules saved by "enable" (files it wrote only); a file put
# back is used up.
restore_saved() {
    if ! save_dir_safe; then
        [ -e "$SAVE_DIR" ] || [ -L "$SAVE_DIR" ] || { echo "RESTORED"; return 0; }
        save_dir_ok
        exit 2
    fi
    if saved_by_enable "$SAVED_RULES" && iptables-restore -w 5 <"$SAVED_RULES" >/dev/null 2>&1; then
        rm -f -- "$SAVED_RULES"
    fi
    if saved_by_enable "$SAVED_RULES6" && ip6tables-restore -w 5 <"$SAVED_RULES6" >/dev/null 2>&1; then
        rm -f -- "$SAVED_RULES6"
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
