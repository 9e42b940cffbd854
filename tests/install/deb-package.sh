#!/usr/bin/env bash
# Builds the Debian package with CPack, checks its name and control fields, installs it with
# apt-get, starts the installed /usr/bin/orvane under a virtual display and removes the package
# again. Needs root and apt-get (CI has both); skips otherwise. The package is never left
# installed: it is removed on every way out of this script.
#
#   deb-package.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
build="$1"

[[ "$(id -u)" == 0 ]] || skip "installing a package needs root"
need_tools apt-get dpkg dpkg-deb dpkg-shlibdeps cpack xvfb-run xdotool
# Never touch a copy that somebody installed on purpose.
if [[ "$(dpkg-query -W -f='${Status}' orvane 2>/dev/null || true)" == *" installed" ]]; then
    skip "a package named orvane is installed already"
fi
[[ ! -e /usr/bin/orvane ]] || skip "/usr/bin/orvane exists already"

make_temp
installed=0
cleanup() {
    if ((installed)); then
        DEBIAN_FRONTEND=noninteractive apt-get remove -y -o DPkg::Lock::Timeout=120 orvane \
            >>"$tmp/apt.log" 2>&1 || dpkg --purge orvane >>"$tmp/apt.log" 2>&1 || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$tmp/pkg") >"$tmp/cpack.log" 2>&1 ||
    { cat "$tmp/cpack.log" >&2; fail "cpack -G DEB failed"; }

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
arch="$(dpkg --print-architecture)"
deb="$tmp/pkg/orvane_${version}_${arch}.deb"
[[ -f "$deb" ]] || fail "cpack did not make orvane_${version}_${arch}.deb: $(ls "$tmp/pkg")"

field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == orvane ]] || fail "Package is '$(field Package)'"
[[ "$(field Maintainer)" == "Orvane developers <support@orvane.example.org>" ]] ||
    fail "Maintainer is '$(field Maintainer)'"
[[ "$(field Section)" == utils ]] || fail "Section is '$(field Section)'"
[[ -n "$(field Description)" ]] || fail "no Description"
depends="$(field Depends)"
for dep in libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libqscintilla2-qt6-[0-9]+ qt6-qpa-plugins qt6-wayland; do
    [[ ",$depends," =~ [,\ ]$dep[,\ ] ]] || fail "Depends lacks $dep: $depends"
done
contents="$(dpkg-deb -c "$deb")"
for path in ./usr/bin/orvane ./usr/share/orvane/OrvaneHelp.html \
        ./usr/share/applications/org.orvane.Orvane.desktop \
        ./usr/share/metainfo/org.orvane.Orvane.metainfo.xml \
        ./usr/share/icons/hicolor/scalable/apps/org.orvane.Orvane.svg \
        ./usr/sbin/orvaned ./usr/lib/systemd/system/orvaned.service ./usr/lib/systemd/system/orvaned.socket; do
    grep -q " $path\$" <<<"$contents" || fail "the package lacks $path"
done
# The watch service: its maintainer scripts, and a unit that starts the program where the
# package puts it.
dpkg-deb -e "$deb" "$tmp/control"
for script in postinst prerm postrm; do
    [[ -x "$tmp/control/$script" ]] || fail "the package has no $script"
done
# Read whole before it is searched: grep -q stopping at the match would end the pipe early.
unit="$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/orvaned.service)"
grep -qx 'ExecStart=/usr/sbin/orvaned' <<<"$unit" || fail "orvaned.service does not start /usr/sbin/orvaned"

installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    -o DPkg::Lock::Timeout=120 "$deb" >"$tmp/apt.log" 2>&1 ||
    { cat "$tmp/apt.log" >&2; fail "apt-get install of the package failed"; }
[[ -x /usr/bin/orvane ]] || fail "/usr/bin/orvane is not there after installing"
# What postinst makes: the service's account, the administrators' group, the list's folder,
# and the socket enabled (without systemd running, as a link for the next boot).
getent passwd orvaned >/dev/null || fail "postinst made no account orvaned"
getent group orvane-admin >/dev/null || fail "postinst made no group orvane-admin"
[[ -d /etc/orvane && $(stat -c %U%a /etc/orvane) == root755 ]] || fail "/etc/orvane is not root's 0755 folder"
[[ -L /etc/systemd/system/sockets.target.wants/orvaned.socket ]] || fail "orvaned.socket is not enabled"

as_fresh_user "$tmp/home"
mkdir -p "$tmp/out"
if ! xvfb-run -a -s "-screen 0 1280x1024x24" "$here/session.sh" /usr/bin/orvane "$tmp/out"; then
    cat "$tmp/out/program.log" >&2 || true
    fail "/usr/bin/orvane did not start and close cleanly"
fi
[[ -f "$HOME/.local/share/orvane/Settings.dat" ]] ||
    fail "the packaged program kept no Settings.dat in ~/.local/share/orvane"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -o DPkg::Lock::Timeout=120 orvane \
    >>"$tmp/apt.log" 2>&1 || { cat "$tmp/apt.log" >&2; fail "apt-get remove orvane failed"; }
installed=0
[[ ! -e /usr/bin/orvane ]] || fail "/usr/bin/orvane is still there after removing the package"
[[ ! -e /usr/share/orvane ]] || fail "/usr/share/orvane is still there after removing the package"
if [[ "$(dpkg-query -W -f='${Status}' orvane 2>/dev/null || true)" == *" installed" ]]; then
    fail "dpkg still lists orvane as installed"
fi
echo "Debian package: OK"
