#!/usr/bin/env bash
# Runs tools/install-deps.sh against stand-ins for dpkg-query, apt-get and
# sudo, so that what it installs, and how it fails, is the same on every
# machine, whatever is really installed there. Nothing is installed.
#   install-deps-test.sh SOURCE_DIR
# As root it also runs the script as "nobody" (through setpriv), where it
# must go through sudo.
set -euo pipefail
source_dir="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
chmod 0755 "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }

# The script under test, where any user can read it.
cp "$source_dir/tools/install-deps.sh" "$work/install-deps.sh"
chmod 0755 "$work/install-deps.sh"
mkdir -m 0755 "$work/bin"
mkdir -m 0777 "$work/log"

# dpkg-query -W -f=FORMAT PACKAGE...: every package installed except those in
# STUB_MISSING, which it reports as the real one does (not found on standard
# error, exit code 1), and those in STUB_NOT_INSTALLED (removed, its
# configuration left: listed, exit code 1). STUB_BROKEN: the database cannot
# be read.
cat >"$work/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
echo "dpkg-query $*" >>"$STUB_LOG/calls"
if [ -n "${STUB_BROKEN:-}" ]; then
    for p in "${@:3}"; do
        echo "dpkg-query: no packages found matching $p" >&2
    done
    echo "dpkg-query: error: failed to open package info file '/var/lib/dpkg/status' for reading: No such file or directory" >&2
    exit 2
fi
status=0
for p in "${@:3}"; do
    if [[ " ${STUB_MISSING:-} " == *" $p "* ]]; then
        echo "dpkg-query: no packages found matching $p" >&2
        status=1
    elif [[ " ${STUB_NOT_INSTALLED:-} " == *" $p "* ]]; then
        echo "$p deinstall ok config-files"
        status=1
    else
        echo "$p install ok installed"
    fi
done
exit "$status"
EOF
# apt-get and sudo record their arguments (and who ran them); sudo then
# runs the command, which here is the apt-get stand-in.
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get(uid $(id -u)) $*" >>"$STUB_LOG/calls"
EOF
cat >"$work/bin/sudo" <<'EOF'
#!/bin/sh
echo "sudo(uid $(id -u)) $*" >>"$STUB_LOG/calls"
exec "$@"
EOF
chmod 0755 "$work/bin/"*

# run NAME [VARIABLE=VALUE...]: runs the script with the stand-ins first on
# PATH; its output goes to $work/NAME.out and .err, its calls to
# $work/log/calls (emptied first).
as_nobody=no
run() {
    local name="$1"
    shift
    : >"$work/log/calls"
    chmod 0666 "$work/log/calls"
    local runner=()
    if [ "$as_nobody" = yes ]; then
        runner=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
    fi
    set +e
    env -i PATH="$work/bin:/usr/sbin:/usr/bin:/sbin:/bin" STUB_LOG="$work/log" "$@" \
        "${runner[@]}" bash "$work/install-deps.sh" >"$work/$name.out" 2>"$work/$name.err"
    code=$?
    set -e
    calls="$(grep -v '^dpkg-query ' "$work/log/calls" || true)"
    queries="$(grep -c '^dpkg-query ' "$work/log/calls" || true)"
}

show() {
    echo "--- $1: exit code $code; stdout:"
    cat "$work/$1.out"
    echo "--- stderr:"
    cat "$work/$1.err"
    echo "--- calls:"
    cat "$work/log/calls"
}

# Installs only the missing package, after updating the package lists.
# $1: a label, $2: "sudo" when it must go through sudo, $3: the uid the
# script runs as (the sudo stand-in does not change it).
check_installs_missing() {
    local label="$1" via="$2" uid="$3" expected
    run "$label-one-missing" STUB_MISSING=xdg-utils
    show "$label-one-missing"
    [ "$code" -eq 0 ] || fail "$label: exit code $code with one package missing"
    [ "$queries" -eq 1 ] || fail "$label: dpkg-query asked $queries times, not once"
    if [ "$via" = sudo ]; then
        expected="sudo(uid $uid) apt-get update -q
apt-get(uid $uid) update -q
sudo(uid $uid) apt-get install -y -q --no-install-recommends xdg-utils
apt-get(uid $uid) install -y -q --no-install-recommends xdg-utils"
    else
        expected="apt-get(uid 0) update -q
apt-get(uid 0) install -y -q --no-install-recommends xdg-utils"
    fi
    [ "$calls" = "$expected" ] || fail "$label: calls were
$calls
expected
$expected"
    grep -qx "install-deps: installing xdg-utils" "$work/$label-one-missing.out" \
        || fail "$label: does not say what it installs"

    # Two missing, one of them reported as known but not installed.
    run "$label-two-missing" STUB_MISSING="cmake" STUB_NOT_INSTALLED="pkexec"
    show "$label-two-missing"
    [ "$code" -eq 0 ] || fail "$label: exit code $code with two packages missing"
    grep -q "install -y -q --no-install-recommends cmake pkexec$" <<<"$calls" \
        || fail "$label: did not ask for exactly cmake and pkexec"

    # Nothing missing: nothing is installed, no root needed.
    run "$label-none-missing"
    show "$label-none-missing"
    [ "$code" -eq 0 ] || fail "$label: exit code $code with nothing missing"
    [ -z "$calls" ] || fail "$label: installs although nothing is missing: $calls"

    # A failing step says which one and why.
    printf '#!/bin/sh\necho "apt-get $*" >>"$STUB_LOG/calls"\n[ "$1" = update ] && { echo "E: could not get lock" >&2; exit 100; }\nexit 0\n' \
        >"$work/bin/apt-get"
    run "$label-update-fails" STUB_MISSING=xdg-utils
    show "$label-update-fails"
    [ "$code" -eq 100 ] || fail "$label: exit code $code when apt-get update fails"
    grep -q "install-deps: failed while updating the package lists (apt-get update) (exit code 100)" \
        "$work/$label-update-fails.err" || fail "$label: a failed step does not say which one"
    grep -q "install -y" <<<"$calls" && fail "$label: installs after a failed update"
    printf '#!/bin/sh\necho "apt-get(uid $(id -u)) $*" >>"$STUB_LOG/calls"\n' >"$work/bin/apt-get"

    # The package database cannot be read: dpkg-query's words, and nothing
    # is installed.
    run "$label-no-database" STUB_BROKEN=yes
    show "$label-no-database"
    [ "$code" -ne 0 ] || fail "$label: exit code 0 without a package database"
    [ -z "$calls" ] || fail "$label: tries to install without a package database: $calls"
    grep -q "failed to open package info file '/var/lib/dpkg/status'" "$work/$label-no-database.err" \
        || fail "$label: dpkg-query's words are not passed on"
}

if [ "$(id -u)" -eq 0 ]; then
    check_installs_missing root direct 0
    command -v setpriv >/dev/null || fail "setpriv (util-linux) needed for the run as nobody"
    as_nobody=yes
    check_installs_missing nobody sudo "$(id -u nobody)"
    # Not root and no sudo: says so and installs nothing. Only the tools the
    # script needs are on PATH, so that a real sudo is not found.
    mkdir -m 0755 "$work/nosudo"
    for tool in dpkg-query apt-get; do ln -s "$work/bin/$tool" "$work/nosudo/$tool"; done
    for tool in bash env id awk grep mktemp cat rm; do
        ln -s "$(command -v "$tool")" "$work/nosudo/$tool"
    done
    : >"$work/log/calls"
    set +e
    env -i PATH="$work/nosudo" STUB_LOG="$work/log" STUB_MISSING=xdg-utils \
        "$(command -v setpriv)" --reuid=nobody --regid="$(id -g nobody)" --clear-groups -- \
        /bin/bash "$work/install-deps.sh" >"$work/nosudo.out" 2>"$work/nosudo.err"
    code=$?
    set -e
    cat "$work/nosudo.err"
    [ "$code" -ne 0 ] || fail "not root and no sudo: exit code 0"
    grep -q "not root and sudo not found; run as root to install: xdg-utils" "$work/nosudo.err" \
        || fail "not root and no sudo: does not say so"
    grep -q "^apt-get" "$work/log/calls" && fail "not root and no sudo: apt-get was run"
else
    # Without root the script must go through sudo.
    echo "not root: the run as nobody is left out"
    as_nobody=no
    check_installs_missing "user$(id -u)" sudo "$(id -u)"
fi
echo "PASS"
