#!/bin/bash
#
# ostrel kill switch: while it is on, outgoing traffic may leave only through
# the VPN tunnel (tun+), the loopback, to the VPN server's address and, when
# asked for, inside the local network. IPv4 and IPv6 are both held.
#
# Usage: ostrel-killswitch.sh {enable|restore|disable|replace [ server IP]|localnetwork allow|localnetwork deny}
#        ostrel-killswitch.sh status | test
#        ostrel-killswitch.sh replace <server IP> --with-status
#
# Each command prints one answer line (a "replace --with-status" that
# succeeds: "OK", then the line "status" would print); the output of
# iptables itself is discarded. The kill switch holds an address family while the chain
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
#
# One writer at a time: every command that changes the firewall holds the
# lock /run/ostrel/firewall.lock (flock) for its whole run, and each change
# of a family's rules is one iptables-restore step, so that no other writer
# and no half-made change ever leaves outgoing traffic open while the kill
# switch is meant to be on. "status" only reads and takes no lock; neither
# does a "replace" or "localnetwork allow" whose outcome is in force
# already: it only reads, finds nothing to change, and answers at once.
#
# Failures that are reported (a line starting "ERROR:", nothing else):
#   exit 2: refused, nothing was changed (/run/ostrel not safe, its lock
#           file not a regular file, or another change still running after
#           the wait for the lock);
#   exit 3: did what could be done and failed closed: "enable" or "replace"
#           (a family whose traffic cannot be blocked, or a server text that
#           stands for no address: the server is blocked too), "disable" or
#           "restore" (saved rules that could not be put back: the kill
#           switch stays on in that family, and they wait for the next try).

PATH="/usr/sbin:/sbin:/usr/bin:/bin:${PATH:-}"

# What this script writes (the saved rules, the lock) is root's alone.
umask 077

ALLOWED_CHAIN="ostrelallowedip"
LAN_CHAIN="lan"
TUNNEL_IF="tun+"
# Every rule the kill switch puts into a built-in chain carries this mark, so
# that it is never confused with a user's rule that looks the same. Rules in
# its own chains need none: those chains are its own.
OWN_MARK="ostrel-killswitch"
MARKED="-m comment --comment $OWN_MARK"

# Root-only state: owned by root, mode 0700, checked without following links;
# created when missing, never changed or removed when it is anything else.
SAVE_DIR="/run/ostrel"
SAVED_RULES="$SAVE_DIR/iptables.original"
SAVED_RULES6="$SAVE_DIR/ip6tables.original"
# A saved file is renamed to this name before its rules are put back: while
# the family is still held, the file under that name is still the saved one
# (a "disable" stopped before its restore step); once the family is free,
# its rules are back and it is only left over from a stopped run.
PUTBACK_SUFFIX=".putback"
LOCK_FILE="$SAVE_DIR/firewall.lock"
# The program gives each run six seconds: resolving a host name (at most
# two seconds) and waiting for the lock (at most three) end well before.
RESOLVE_SECONDS=1.5
LOCK_SECONDS=3
# A host name gives at most this many server addresses of each family.
ADDRESSES_PER_FAMILY=16
# First line of a rules file written by "enable"; iptables-restore skips it
# as a comment. "disable" restores only files that carry it.
SAVE_MARK="# ostrel-killswitch.sh enable: rules in force before the kill switch"

LAN4="192.168.0.0/16,10.0.0.0/8,172.16.0.0/12"
LAN6="fe80::/10,fc00::/7"

USAGE="Usage: ostrel-killswitch.sh {enable|restore|disable|replace [ server IP]|localnetwork allow|localnetwork deny}"

ipt4() { iptables -w 5 "$@" >/dev/null 2>&1; }
ipt6() { ip6tables -w 5 "$@" >/dev/null 2>&1; }

# The tools and the saved file of each address family (4 or 6), looked up
# without starting a process.
declare -A IPT=([4]=ipt4 [6]=ipt6)
declare -A LISTER=([4]=iptables [6]=ip6tables)
declare -A SAVER=([4]=iptables-save [6]=ip6tables-save)
declare -A RESTORER=([4]=iptables-restore [6]=ip6tables-restore)
declare -A SAVED_FILE=([4]="$SAVED_RULES" [6]="$SAVED_RULES6")

# $1: iptables or ip6tables.
family_on() {
    "$1" -w 5 -n -L "$ALLOWED_CHAIN" >/dev/null 2>&1
}

kill_switch4_on() { family_on iptables; }
kill_switch6_on() { family_on ip6tables; }

# Loads rules from standard input into one family's tables in one step;
# further arguments go to iptables-restore.
restore_family() {
    local family="$1"
    shift
    "${RESTORER[$family]}" -w 5 "$@" >/dev/null 2>&1
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

# Makes this run the only one that changes the firewall, until it ends: the
# lock is held by an open file descriptor, so it goes with the script and
# its children however they end. Refuses (exit 2, nothing changed) without a
# safe directory or when another change does not end within the wait.
take_lock() {
    save_dir_ok || exit 2
    # Anything but a regular file is refused: opening a FIFO for writing
    # alone would wait for a reader without end. Opened for reading and
    # writing, not even one put there after the look blocks, and the
    # descriptor itself is looked at again.
    if [ -L "$LOCK_FILE" ] || { [ -e "$LOCK_FILE" ] && [ ! -f "$LOCK_FILE" ]; }; then
        echo "ERROR: the lock file $LOCK_FILE is not a regular file; nothing was changed"
        exit 2
    fi
    if ! { exec 9<>"$LOCK_FILE"; } 2>/dev/null; then
        echo "ERROR: the lock file $LOCK_FILE cannot be opened"
        exit 2
    fi
    if [ ! -f /dev/fd/9 ]; then
        exec 9>&-
        echo "ERROR: the lock file $LOCK_FILE is not a regular file; nothing was changed"
        exit 2
    fi
    if ! flock -w "$LOCK_SECONDS" 9 2>/dev/null; then
        echo "ERROR: another change of the firewall is still running after ${LOCK_SECONDS} seconds; nothing was changed"
        exit 2
    fi
}

# Saves one family's rules in force, marked as written by "enable", unless
# rules saved by an earlier "enable" are still waiting to be put back: those
# are what the user had, and they are never replaced. Rules that hold the
# kill switch's own chain are never saved as the user's.
# rm -f, without starting it for a file that is not there.
remove_file() {
    if [ -e "$1" ] || [ -L "$1" ]; then
        rm -f -- "$1"
    fi
}

save_one() {
    local saver="$1" file="$2" rules tmp
    if saved_by_enable "$file"; then
        return 0
    fi
    remove_file "$file"
    if rules="$("$saver" 2>/dev/null)" && ! holds_own_chain "$rules"; then
        tmp="$file.new"
        remove_file "$tmp"
        if { printf '%s\n%s\n' "$SAVE_MARK" "$rules" >"$tmp"; } 2>/dev/null; then
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
    local file="$1" first content=""
    [ -f "$file" ] && [ ! -L "$file" ] && [ -s "$file" ] || return 1
    IFS= read -r first <"$file" || return 1
    [ "$first" = "$SAVE_MARK" ] || return 1
    { IFS= read -r -d '' content <"$file"; } 2>/dev/null
    ! holds_own_chain "$content"
}

# --- Server addresses ------------------------------------------------------

OCTET="(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])"
is_ipv4() {
    [[ "$1" =~ ^$OCTET\.$OCTET\.$OCTET\.$OCTET$ ]]
}

# Counts the groups of 1 to 4 hexadecimal digits that make up the text,
# separated by single colons; fails on anything else. An empty text has none.
hex_groups() {
    local text="$1" group count=0
    [ -n "$text" ] || { echo 0; return 0; }
    [[ "$text" != :* && "$text" != *: ]] || return 1
    local IFS=:
    for group in $text; do
        [[ "$group" =~ ^[0-9A-Fa-f]{1,4}$ ]] || return 1
        count=$((count + 1))
    done
    echo "$count"
}

is_ipv6() {
    local text="$1" head tail groups
    [[ "$text" == *:* && "$text" =~ ^[0-9A-Fa-f:.]{2,45}$ ]] || return 1
    # A trailing dotted IPv4 address stands for the last two groups.
    if [[ "$text" == *.* ]]; then
        is_ipv4 "${text##*:}" || return 1
        text="${text%:*}:0:0"
    fi
    case "$text" in
    *::*::*) return 1 ;;
    *::*)
        head="$(hex_groups "${text%%::*}")" && tail="$(hex_groups "${text#*::}")" || return 1
        [ $((head + tail)) -le 7 ]
        ;;
    *)
        groups="$(hex_groups "$text")" && [ "$groups" -eq 8 ]
        ;;
    esac
}

# Labels of letters, digits and inner hyphens, separated by dots.
is_host_name() {
    local label="[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
    [ "${#1}" -le 253 ] && [[ "$1" =~ ^($label\.)*$label\.?$ ]]
}

# Sets SERVER_ADDRESSES to the plain addresses the server text stands for:
# the text itself when it is an IPv4 or IPv6 address, the addresses of a
# host name otherwise (resolved with a time limit, before any lock is taken
# or any rule changed): each address once, at most ADDRESSES_PER_FAMILY of
# each family, so that many addresses of one family never push out the
# other's. No text means no server. Anything else gives no address and
# SERVER_PROBLEM says why: the kill switch is then built without an
# exception for the server, which blocks the server too (closed rather than
# open), and the command reports the failure. Only addresses checked here
# ever reach a rule.
resolve_server() {
    local text="$1" address count4=0 count6=0
    SERVER_ADDRESSES=()
    SERVER_PROBLEM=""
    [ -n "$text" ] || return 0
    if is_ipv4 "$text" || is_ipv6 "$text"; then
        SERVER_ADDRESSES=("$text")
        return 0
    fi
    if ! is_host_name "$text"; then
        SERVER_PROBLEM="the server address is neither an IP address nor a host name, so the server is blocked too"
        return 1
    fi
    # getent lists each address once for every socket type.
    while read -r address; do
        if [[ "$address" == *:* ]]; then
            if [ "$count6" -lt "$ADDRESSES_PER_FAMILY" ] && is_ipv6 "$address"; then
                SERVER_ADDRESSES+=("$address")
                count6=$((count6 + 1))
            fi
        elif [ "$count4" -lt "$ADDRESSES_PER_FAMILY" ] && is_ipv4 "$address"; then
            SERVER_ADDRESSES+=("$address")
            count4=$((count4 + 1))
        fi
    done < <(timeout -k 0.5 "$RESOLVE_SECONDS" getent ahosts "$text" 2>/dev/null | awk '!seen[$1]++ { print $1 }')
    if [ "${#SERVER_ADDRESSES[@]}" -eq 0 ]; then
        SERVER_PROBLEM="the server's host name could not be resolved, so the server is blocked too"
        return 1
    fi
    return 0
}

# "-A <chain> -d <address> -j ACCEPT" (and "-s" when $3 is "both") for each
# server address of the family.
server_lines() {
    local family="$1" both="$2" address
    for address in "${SERVER_ADDRESSES[@]}"; do
        if [[ "$address" == *:* ]]; then [ "$family" = 6 ]; else [ "$family" = 4 ]; fi || continue
        echo "-A $ALLOWED_CHAIN -d $address -j ACCEPT"
        [ "$both" = both ] && echo "-A $ALLOWED_CHAIN -s $address -j ACCEPT"
    done
}

# Sets WANT4 and WANT6 to the listings (iptables -S) of the server chain of
# each family after a "replace" with SERVER_ADDRESSES. An IPv6 address not
# written the way the listing writes it never matches: the chain is then
# written anew, which changes nothing.
server_listings() {
    local address
    WANT4="-N $ALLOWED_CHAIN"
    WANT6="-N $ALLOWED_CHAIN"
    for address in "${SERVER_ADDRESSES[@]}"; do
        if [[ "$address" == *:* ]]; then
            WANT6+=$'\n'"-A $ALLOWED_CHAIN -d $address/128 -j ACCEPT"$'\n'"-A $ALLOWED_CHAIN -s $address/128 -j ACCEPT"
        else
            WANT4+=$'\n'"-A $ALLOWED_CHAIN -d $address/32 -j ACCEPT"$'\n'"-A $ALLOWED_CHAIN -s $address/32 -j ACCEPT"
        fi
    done
}

# Sets WANT4 and WANT6 to the listings (iptables -S) of the LAN chain of
# each family after "localnetwork allow": one rule for each pair of the
# family's private ranges.
lan_listings() {
    local source destination family ranges listing
    local IFS=,
    for family in 4 6; do
        ranges="$LAN4"
        [ "$family" = 6 ] && ranges="$LAN6"
        listing="-N $LAN_CHAIN"
        for source in $ranges; do
            for destination in $ranges; do
                listing+=$'\n'"-A $LAN_CHAIN -s $source -d $destination ! -o $TUNNEL_IF -j ACCEPT"
            done
        done
        if [ "$family" = 6 ]; then WANT6="$listing"; else WANT4="$listing"; fi
    done
}

# True when, in each family, the chain either does not exist (the change
# passes that family by) or holds exactly the wanted listing ($2 for IPv4,
# $3 for IPv6): the change would change nothing. Both families are listed
# at once.
chain_in_force() {
    local chain="$1" listing4 listing6="" fd
    exec {fd}< <(exec ip6tables -w 5 -S "$chain" 2>/dev/null)
    listing4="$(iptables -w 5 -S "$chain" 2>/dev/null)"
    IFS= read -r -d '' listing6 <&"$fd"
    exec {fd}<&-
    while [[ "$listing6" == *$'\n' ]]; do
        listing6="${listing6%$'\n'}"
    done
    HAS4=no
    HAS6=no
    [ -n "$listing4" ] && HAS4=yes
    [ -n "$listing6" ] && HAS6=yes
    { [ -z "$listing4" ] || [ "$listing4" = "$2" ]; } && { [ -z "$listing6" ] || [ "$listing6" = "$3" ]; }
}

# The answer of "status" for whether the kill switch holds IPv4 ($1) and
# IPv6 ($2), "yes" or "no". A family left alone after an outside change
# still counts as on, and says so, so that the kill switch can be taken
# down or built again.
status_line() {
    if [ "$1" = yes ]; then
        if [ "$2" = yes ]; then
            echo "ENABLED status"
        else
            echo "ENABLED status (IPv4 only)"
        fi
    elif [ "$2" = yes ]; then
        echo "ENABLED status (IPv6 only)"
    else
        echo "DISABLED status"
    fi
}

# --- Rules -------------------------------------------------------------------

# The kill switch's rules of one family (4 or 6) for the filter table, as
# iptables-restore lines, with the server addresses of SERVER_ADDRESSES. With
# $2 "unmarked": the rules in built-in chains as older versions wrote them,
# without the mark.
rule_lines() {
    local family="$1" mark="$MARKED" type
    [ "${2:-}" = unmarked ] && mark=""
    echo "-N $ALLOWED_CHAIN"
    echo "-N $LAN_CHAIN"
    echo "-A INPUT -m state --state RELATED,ESTABLISHED $mark -j ACCEPT"
    echo "-A INPUT -i $TUNNEL_IF $mark -j ACCEPT"
    echo "-A OUTPUT -o $TUNNEL_IF $mark -j ACCEPT"
    echo "-A OUTPUT -o lo $mark -j ACCEPT"
    if [ "$family" = 6 ]; then
        # Neighbour discovery carries no user traffic, and without it not
        # even the server (or the router towards it) can be reached.
        for type in router-solicitation neighbour-solicitation neighbour-advertisement; do
            echo "-A OUTPUT -p ipv6-icmp --icmpv6-type $type $mark -j ACCEPT"
        done
    fi
    echo "-A OUTPUT -m state --state ESTABLISHED,RELATED $mark -j ACCEPT"
    [ "${2:-}" = unmarked ] || server_lines "$family" one
    echo "-A OUTPUT $mark -j $ALLOWED_CHAIN"
    echo "-A OUTPUT $mark -j $LAN_CHAIN"
    echo "-A OUTPUT $mark -j DROP"
}

# Runs restore lines one command at a time ("-N", "-A", "-D", "-F", "-X"),
# for one family; the lines hold no quoted words.
run_lines() {
    local ipt="$1" line words
    while read -r line; do
        read -ra words <<<"$line"
        [ "${#words[@]}" -gt 0 ] && "$ipt" "${words[@]}"
    done
}

# Sets POLICIES to the policies of the built-in chains of one family's
# filter, nat and mangle tables, from its save listing ($1: 4 or 6), one
# "table chain policy" a line. A table that does not exist is left out.
read_policies() {
    local line table="" chain rest policy
    POLICIES=""
    while IFS= read -r line; do
        case "$line" in
        "*"*) table="${line#\*}" ;;
        :*" "*" "*)
            case "$table" in
            filter | nat | mangle) ;;
            *) continue ;;
            esac
            chain="${line%% *}"
            rest="${line#* }"
            policy="${rest%% *}"
            [[ "$policy" =~ ^[A-Z]+$ ]] && POLICIES+="$table ${chain#:} $policy"$'\n'
            ;;
        esac
    done < <(exec "${SAVER[$1]}" 2>/dev/null)
}

# Prints each chain and policy of POLICIES for one table with the format
# (chain, policy); fails when the table has none.
policies_of() {
    local table="$1" format="$2" t chain policy found=1
    while read -r t chain policy; do
        [ "$t" = "$table" ] || continue
        # shellcheck disable=SC2059 # the format is the caller's
        printf -- "$format" "$chain" "$policy"
        found=0
    done <<<"$POLICIES"
    return "$found"
}

# Empties the filter, nat and mangle tables of one family and builds the
# kill switch there: in one step with iptables-restore (fast, and nothing
# passes half-built), else one command at a time.
# The built-in chains keep their policies: iptables-restore of the nf_tables
# backend sets them to ACCEPT after "-F" unless they are given again.
enable_family() {
    local family="$1" table
    read_policies "$family"
    if {
        for table in filter nat mangle; do
            printf '*%s\n-F\n-X\n' "$table"
            policies_of "$table" '-P %s %s\n'
            [ "$table" = filter ] && rule_lines "$family"
            echo "COMMIT"
        done
    } | restore_family "$family" --noflush; then
        return 0
    fi
    build_by_commands "$family"
}

# Builds the kill switch of one family one command at a time, in an order
# that holds wherever it is stopped: its chain comes first, so that the
# family counts as held ("status" sees it, "disable" puts the saved rules
# back) before anything of the user's changes; then a marked DROP at the
# head of OUTPUT closes outgoing traffic while the user's rules go and its
# own are added behind it; that DROP goes last. No policy is ever changed.
build_by_commands() {
    local family="$1" ipt lister chains chain count table
    ipt="${IPT[$family]}"
    lister="${LISTER[$family]}"
    family_on "$lister" || "$ipt" -N "$ALLOWED_CHAIN"
    echo "-I OUTPUT 1 $MARKED -j DROP" | run_lines "$ipt"
    chains="$("$lister" -w 5 -S 2>/dev/null | awk '$1 == "-N" { print $2 }')"
    count="$("$lister" -w 5 -S OUTPUT 2>/dev/null | grep -c '^-A OUTPUT ')"
    for ((; count > 1; count--)); do
        "$ipt" -D OUTPUT 2
    done
    "$ipt" -F INPUT
    "$ipt" -F FORWARD
    for chain in $chains; do
        "$ipt" -F "$chain"
    done
    for chain in $chains; do
        [ "$chain" = "$ALLOWED_CHAIN" ] || "$ipt" -X "$chain"
    done
    for table in nat mangle; do
        "$ipt" -t "$table" -F
        "$ipt" -t "$table" -X
    done
    rule_lines "$family" | grep -vxF -e "-N $ALLOWED_CHAIN" | run_lines "$ipt"
    echo "-D OUTPUT $MARKED -j DROP" | run_lines "$ipt"
}

# True when the family's traffic can flow at all: IPv4 always, IPv6 unless
# the kernel has none or it is switched off everywhere with no address left.
stack_present() {
    [ "$1" = 4 ] && return 0
    [ -d /proc/sys/net/ipv6 ] || return 1
    local disabled=""
    { read -r disabled </proc/sys/net/ipv6/conf/all/disable_ipv6; } 2>/dev/null
    [ "$disabled" != 1 ] || [ -s /proc/net/if_inet6 ]
}

enable_kill_switch() {
    local server="$1" on4=no on6=no family problem="" why
    resolve_server "$server"
    take_lock
    kill_switch4_on && on4=yes
    kill_switch6_on && on6=yes
    if [ "$on4" = yes ] || [ "$on6" = yes ]; then
        echo "iptables rules overwritten"
    fi
    # A family the kill switch holds keeps the rules saved when it took it;
    # the other one's rules in force are the user's and are saved now,
    # unless rules saved earlier still wait to be put back.
    [ "$on4" = yes ] || { forget_put_back 4 && save_one iptables-save "$SAVED_RULES"; }
    [ "$on6" = yes ] || { forget_put_back 6 && save_one ip6tables-save "$SAVED_RULES6"; }

    for family in 4 6; do
        enable_family "$family"
        if [ -z "$problem" ] && stack_present "$family" && ! family_on "${LISTER[$family]}"; then
            why="$("${LISTER[$family]}" -w 5 -n -L OUTPUT 2>&1 >/dev/null | head -n 1)"
            problem="IPv$family traffic cannot be blocked: ${LISTER[$family]} does not work here${why:+ ($why)}"
        fi
    done
    problem="${problem:-$SERVER_PROBLEM}"
    if [ -n "$problem" ]; then
        echo "ERROR: $problem"
        exit 3
    fi
    echo "ENABLED"
}

# True when the rule listing (iptables -S) declares the chain.
declares_chain() {
    [[ $'\n'"$1"$'\n' == *$'\n'"-N $2"$'\n'* ]]
}

# Takes only the kill switch's own rules and chains out of one family's
# filter table, in one step; everything else stays as it is. Its rules are
# those with its mark and every jump into its own chains.
# Kill switches built by older versions carry no mark; their rules exist
# only together with the chain "ostrelallowedip". Only when that chain is
# there and no marked rule is, exactly one copy of each rule such a version
# added is taken out: a user's copy that looks the same stays, and the
# user's chains keep the same rules, if perhaps in another order.
remove_own_rules() {
    local family="$1" ipt lister listing lines line rule own=no
    ipt="${IPT[$family]}"
    lister="${LISTER[$family]}"
    listing="$("$lister" -w 5 -S 2>/dev/null)"
    lines="$(
        echo "*filter"
        while IFS= read -r line; do
            case "$line" in
            "-A INPUT "* | "-A OUTPUT "*) ;;
            *) continue ;;
            esac
            case "$line " in
            *" --comment $OWN_MARK "*)
                own=yes
                echo "-D ${line#-A }"
                ;;
            *" -j $ALLOWED_CHAIN " | *" -j $LAN_CHAIN ")
                echo "-D ${line#-A }"
                ;;
            esac
        done <<<"$listing"
        if [ "$own" = no ] && declares_chain "$listing" "$ALLOWED_CHAIN"; then
            while read -r line; do
                case "$line" in
                *" -j $ALLOWED_CHAIN" | *" -j $LAN_CHAIN") ;;
                "-A INPUT "* | "-A OUTPUT "*)
                    read -ra rule <<<"${line#-A }"
                    "$ipt" -C "${rule[@]}" && echo "-D ${line#-A }"
                    ;;
                esac
            done < <(rule_lines "$family" unmarked)
        fi
        for line in "$ALLOWED_CHAIN" "$LAN_CHAIN"; do
            if declares_chain "$listing" "$line"; then
                echo "-F $line"
                echo "-X $line"
            fi
        done
        echo "COMMIT"
    )"
    restore_family "$family" --noflush <<<"$lines" || grep -v -e '^\*' -e '^COMMIT' <<<"$lines" | run_lines "$ipt"
}

# Puts back, in one step, the rules saved by "enable" for one family: the
# tables the saved file holds are replaced whole, and the others that the
# kill switch emptied are emptied again with the policies they have now.
# Each table is committed on its own, so the filter table comes last: the
# kill switch's chain goes, and the family is free, only once all the
# others are back.
put_back_saved() {
    local family="$1" file="$2" table chains
    read_policies "$family"
    {
        cat -- "$file"
        for table in filter nat mangle; do
            grep -qx -- "\*$table" "$file" && continue
            chains="$(policies_of "$table" ':%s %s [0:0]\n')" || continue
            printf '*%s\n%s\nCOMMIT\n' "$table" "$chains"
        done
    } | awk '
        /^\*/ { table = substr($0, 2) }
        table == "filter" { filter = filter $0 "\n"; if ($0 == "COMMIT") table = ""; next }
        { print }
        END { printf "%s", filter }' | restore_family "$family"
}

# Removes what a run stopped after putting a family's rules back left over;
# only for a family the kill switch does not hold.
forget_put_back() {
    remove_file "${SAVED_FILE[$1]}$PUTBACK_SUFFIX"
}

# The file of one family's saved rules that waits to be put back: one that a
# stopped run was putting back, else the saved file; fails when there is no
# file written by "enable".
waiting_file() {
    local file
    file="${SAVED_FILE[$1]}"
    if saved_by_enable "$file$PUTBACK_SUFFIX"; then
        echo "$file$PUTBACK_SUFFIX"
    elif saved_by_enable "$file"; then
        echo "$file"
    else
        return 1
    fi
}

# Puts back one family's waiting saved rules. Returns 0 when they are back
# (the file is then used up), 1 when none wait, 2 when they could not be put
# back: the file then waits on. They are back only when the family is free
# of the kill switch afterwards, whatever iptables-restore answered (it may
# stop half-way).
put_back_waiting() {
    local family="$1" file waiting
    file="${SAVED_FILE[$family]}"
    waiting="$(waiting_file "$family")" || return 1
    if [ "$waiting" = "$file" ]; then
        mv -fT -- "$file" "$file$PUTBACK_SUFFIX" 2>/dev/null || return 2
        waiting="$file$PUTBACK_SUFFIX"
    fi
    if put_back_saved "$family" "$waiting" && ! family_on "${LISTER[$family]}"; then
        rm -f -- "$waiting"
        return 0
    fi
    mv -fT -- "$waiting" "$file" 2>/dev/null
    return 2
}

# Takes the kill switch out of one family it holds and puts back the rules
# saved when it took the family; the family is free only once they are
# back, and a "disable" stopped before that leaves them waiting for the
# next one. A family it does not hold is left as it is: its rules are
# someone else's. Without a saved file of its own (missing, or not written
# by "enable"), only the kill switch's own chains and rules are removed.
# Saved rules that cannot be put back leave the kill switch on (closed) and
# wait for the next "disable". Returns 0 when the family is free, 2 when its
# saved rules could not be put back, 3 when its own rules could not be
# taken out.
disable_family() {
    local family="$1" lister
    lister="${LISTER[$family]}"
    if ! family_on "$lister"; then
        forget_put_back "$family"
        return 0
    fi
    put_back_waiting "$family"
    case $? in
    0) return 0 ;;
    2) return 2 ;;
    esac
    remove_own_rules "$family"
    ! family_on "$lister" || return 3
}

# "IPv4", "IPv6" or "IPv4 and IPv6", from one or two words.
both() {
    echo "$1${2:+ and $2}"
}

disable_kill_switch() {
    local family not_back=() held=() problem
    take_lock
    for family in 4 6; do
        disable_family "$family"
        case $? in
        2) not_back+=("IPv$family") ;;
        3) held+=("IPv$family") ;;
        esac
    done
    if [ "${#not_back[@]}" -gt 0 ]; then
        problem="the $(both "${not_back[@]}") rules saved before the kill switch could not be put back: it stays on there, and they wait for the next try"
    fi
    if [ "${#held[@]}" -gt 0 ]; then
        problem="${problem:+$problem; }the kill switch's $(both "${held[@]}") rules could not be taken out"
    fi
    if [ -n "${problem:-}" ]; then
        echo "ERROR: $problem"
        exit 3
    fi
    echo "DISABLED"
}

# Puts back the rules saved by "enable" (files it wrote only); a file put
# back is used up, one that cannot be put back waits on.
restore_saved() {
    local family problems=()
    take_lock
    for family in 4 6; do
        family_on "${LISTER[$family]}" || forget_put_back "$family"
        put_back_waiting "$family"
        [ $? = 2 ] && problems+=("IPv$family")
    done
    if [ "${#problems[@]}" -gt 0 ]; then
        echo "ERROR: the saved $(both "${problems[@]}") rules could not be put back; they wait for the next try"
        exit 3
    fi
    echo "RESTORED"
}

# Replaces, in one step for each family the kill switch holds, the content
# of one of its own chains by the given lines.
replace_chain() {
    local chain="$1" lines4="$2" lines6="$3" family lines
    HAS4=no
    HAS6=no
    for family in 4 6; do
        lines="$lines4"
        [ "$family" = 6 ] && lines="$lines6"
        "${LISTER[$family]}" -w 5 -n -L "$chain" >/dev/null 2>&1 || continue
        if [ "$family" = 6 ]; then HAS6=yes; else HAS4=yes; fi
        if ! printf '*filter\n-F %s\n%s\nCOMMIT\n' "$chain" "$lines" | restore_family "$family" --noflush; then
            printf -- '-F %s\n%s\n' "$chain" "$lines" | run_lines "${IPT[$family]}"
        fi
    done
}

# With "--with-status" after the server, a successful "replace" also prints
# the line "status" would print now: it has just looked at the chain that
# holds each family, and the program need not ask again.
replace_server() {
    local server="$1" with_status=no
    [ "${2:-}" = --with-status ] && with_status=yes
    resolve_server "$server"
    if [ -z "$SERVER_PROBLEM" ]; then
        server_listings
        if chain_in_force "$ALLOWED_CHAIN" "$WANT4" "$WANT6"; then
            echo "OK"
            [ "$with_status" = yes ] && status_line "$HAS4" "$HAS6"
            return 0
        fi
    fi
    take_lock
    replace_chain "$ALLOWED_CHAIN" "$(server_lines 4 both)" "$(server_lines 6 both)"
    if [ -n "$SERVER_PROBLEM" ] && { [ "$HAS4" = yes ] || [ "$HAS6" = yes ]; }; then
        echo "ERROR: $SERVER_PROBLEM"
        exit 3
    fi
    echo "OK"
    [ "$with_status" = yes ] && status_line "$HAS4" "$HAS6"
    return 0
}

local_network() {
    case "$1" in
    allow)
        lan_listings
        if chain_in_force "$LAN_CHAIN" "$WANT4" "$WANT6"; then
            echo "OK (LAN allowed)"
            return 0
        fi
        take_lock
        # One rule for each family; iptables expands the address lists into
        # one entry per source and destination pair. The chain holds it
        # once, however often it is allowed.
        replace_chain "$LAN_CHAIN" "-A $LAN_CHAIN ! -o $TUNNEL_IF -s $LAN4 -d $LAN4 -j ACCEPT" \
            "-A $LAN_CHAIN ! -o $TUNNEL_IF -s $LAN6 -d $LAN6 -j ACCEPT"
        echo "OK (LAN allowed)"
        ;;
    deny)
        take_lock
        ipt4 -F "$LAN_CHAIN"
        ipt6 -F "$LAN_CHAIN"
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
    # Both families are asked at once: the tray asks with a short time-out.
    on4=no
    on6=no
    iptables -w 5 -n -L "$ALLOWED_CHAIN" >/dev/null 2>&1 &
    ask4=$!
    ip6tables -w 5 -n -L "$ALLOWED_CHAIN" >/dev/null 2>&1 &
    ask6=$!
    wait "$ask4" && on4=yes
    wait "$ask6" && on6=yes
    status_line "$on4" "$on6"
    ;;
replace)
    replace_server "${2:-}" "${3:-}"
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
