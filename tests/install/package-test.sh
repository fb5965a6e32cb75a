#!/usr/bin/env bash
# Builds the Debian package of a build directory with CPack, inspects it with
# dpkg-deb and, as root, installs it with dpkg into a throw-away copy of this
# system (an overlay over / in a mount namespace of its own), where the
# installed client must start and draw its first frame.
#   package-test.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && timeout 300 cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; fail "cpack did not make the package"; }
deb="$(ls "$work"/out/ostrel_*_*.deb)"

info="$(dpkg-deb --info "$deb")"
echo "$info"
depends="$(dpkg-deb --field "$deb" Depends)"
for needed in openvpn iptables iputils-ping v2ray pkexec libqt5core5a libqt5gui5 libqt5quick5 \
              libqt5qml5 libqt5network5 libqt5widgets5 qml-module-qtquick2 qml-module-qtquick-controls2; do
    grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "the package does not depend on $needed"
done
[ "$(dpkg-deb --field "$deb" Package)" = ostrel ] || fail "package name"

contents="$(dpkg-deb --contents "$deb")"
echo "$contents"
for path in ./usr/lib/ostrel/ostrel ./usr/lib/ostrel/ostrel-killswitch.sh ./usr/lib/ostrel/ostrel-dns \
            ./usr/lib/ostrel/open_link.sh ./usr/lib/ostrel/v2ray ./usr/lib/ostrel/ostrel.desktop \
            ./usr/share/applications/ostrel.desktop ./usr/share/icons/hicolor/scalable/apps/ostrel.svg \
            ./usr/share/polkit-1/actions/org.ostrel.client.policy; do
    grep -q " $path\$" <<<"$contents" || fail "the package lacks $path"
done
grep -q " ./usr/lib/ostrel/openvpn.ostrel -> /usr/sbin/openvpn\$" <<<"$contents" || fail "openvpn.ostrel link"
grep -q " ./usr/bin/ostrel -> ../lib/ostrel/ostrel\$" <<<"$contents" || fail "launcher link"
# Nothing of the build or the tests goes into the package.
if grep -Eq "tst_|demo-service|/build/" <<<"$contents"; then fail "the package holds build or test files"; fi

if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null; then
    echo "SKIP: installing the package needs root for a throw-away system copy"
    exit 0
fi
cp "$deb" "$work/ostrel.deb"
unshare --mount --propagation private -- bash -s "$work" <<'INNER'
set -euo pipefail
work="$1"
mkdir -p "$work/root"
mount -t tmpfs ostrel-package-test "$work/root"
mkdir "$work/root/upper" "$work/root/work" "$work/root/system"
sys="$work/root/system"
mount -t overlay ostrel-package-test -o "lowerdir=/,upperdir=$work/root/upper,workdir=$work/root/work" "$sys"
mount --rbind /dev "$sys/dev"
mount -t proc proc "$sys/proc"
mount -t tmpfs tmp "$sys/tmp"
cp "$work/ostrel.deb" "$sys/tmp/"
if chroot "$sys" dpkg-query -W -f='${Status}' ostrel 2>/dev/null | grep -q "install ok installed"; then
    chroot "$sys" dpkg --purge ostrel >/dev/null
fi
timeout 120 chroot "$sys" dpkg -i /tmp/ostrel.deb || { echo "FAIL: dpkg -i (unmet dependencies?)" >&2; exit 1; }
chroot "$sys" dpkg-query -W -f='${Status}\n' ostrel | grep -q "install ok installed" || { echo "FAIL: not installed" >&2; exit 1; }
[ -x "$sys/usr/lib/ostrel/ostrel" ] && [ -x "$sys/usr/lib/ostrel/openvpn.ostrel" ] \
    || { echo "FAIL: installed files" >&2; exit 1; }
# The installed client starts and draws its first frame.
mkdir -p "$sys/tmp/home"
timeout 60 chroot "$sys" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp/home XDG_DATA_HOME=/tmp/home/data \
    QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software QT_LOGGING_RULES="qt.scenegraph.time.renderloop=true" \
    bash -c '/usr/bin/ostrel </dev/null > /tmp/client.log 2>&1 & pid=$!
             for _ in $(seq 400); do grep -q "Frame rendered" /tmp/client.log && break; kill -0 $pid 2>/dev/null || break; sleep 0.1; done
             kill -TERM $pid 2>/dev/null; wait $pid; grep -q "Frame rendered" /tmp/client.log' \
    || { tail -n 30 "$sys/tmp/client.log" >&2; echo "FAIL: the installed client drew no frame" >&2; exit 1; }
echo "installed in a throw-away system copy; the installed client drew its first frame"
INNER
