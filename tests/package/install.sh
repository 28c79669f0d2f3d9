#!/bin/sh
# The Debian package as a user meets it: built by tools/package.sh, checked by lintian,
# installed into this machine with dpkg -i (and apt-get -f install for what it depends
# on), started through its menu entry's command on Xvfb to cut a picture in the real
# window, then removed; nothing it brought into /usr may be left behind. It changes /usr,
# so it runs only as root, and only where no tessarine package is installed; otherwise it
# says it was skipped.
set -eu
cd "$(dirname "$0")/../.."
[ "$(id -u)" = 0 ] || { echo "Package test skipped: installing a package needs root"; exit 0; }
# A tessarine package installed before is not ours to replace or remove: the machine is left as it was.
! dpkg-query -W -f='${db:Status-Status}\n' tessarine 2>/dev/null | grep -qvx 'not-installed\|config-files' ||
    { echo "Package test skipped: a tessarine package is installed already, which it would replace"; exit 0; }
. tools/packages.sh
# shellcheck disable=SC2086
tessarine_install $TESSARINE_TEST_PACKAGES
export DEBIAN_FRONTEND=noninteractive
work=$(mktemp -d)
trap 'apt-get remove -y -qq tessarine >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

tools/package.sh >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "tools/package.sh"; }
deb=$(tail -n 1 "$work/build.log")
echo "Package: $deb, Depends: $(dpkg-deb -f "$deb" Depends)"
lintian --fail-on error,warning "$deb" || fail "lintian"

# What the package brings that is not there yet must be gone again after removal.
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^/$' |
    while read -r path; do [ -e "$path" ] || echo "$path"; done >"$work/new"

dpkg -i "$deb" || apt-get -f install -y -qq || fail "installing $deb"
dpkg-query -W -f='${Status}\n' tessarine | grep -qx 'install ok installed' || fail "not installed"
desktop-file-validate /usr/share/applications/org.tessarine.Tessarine.desktop || fail "desktop entry"
# "Open with": the menu entry is offered for pictures (dpkg's trigger updates the cache).
grep -q '^image/jpeg=.*org.tessarine.Tessarine.desktop' /usr/share/applications/mimeinfo.cache ||
    fail "not offered to open JPEG pictures"
appstreamcli validate --strict --no-net /usr/share/metainfo/org.tessarine.Tessarine.metainfo.xml ||
    fail "metainfo"

command=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' /usr/share/applications/org.tessarine.Tessarine.desktop)
[ "$(command -v "$command")" = /usr/bin/tessarine ] || fail "menu runs $command, not the package's"
# Debian's python3, where python3-xlib is, whatever python3 comes first on PATH.
xvfb-run -a /usr/bin/python3 tests/x11/real_window.py /usr/bin/tessarine || fail "the installed program"

apt-get remove -y -qq tessarine || fail "removing the package"
left=$(while read -r path; do [ ! -e "$path" ] || echo "$path"; done <"$work/new")
[ -z "$left" ] || fail "left behind after removal: $left"
echo "Package test passed: built, installed, cut a picture, removed cleanly"
