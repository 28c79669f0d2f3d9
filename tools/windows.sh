#!/bin/sh
# Tessarine for Windows, made on Debian: cross-builds Qt once (kept in a cache outside the
# work tree, keyed by its version and options), then tessarine.exe, runs the Windows tests
# under Wine and makes the installer build-windows/tessarine-VERSION-setup.exe.
#   tools/windows.sh          everything
#   tools/windows.sh build    Qt (when missing) and the program only
set -eu
cd "$(dirname "$0")/.."
root=$PWD
. tools/packages.sh
# shellcheck disable=SC2086
tessarine_install $TESSARINE_BUILD_PACKAGES $TESSARINE_WINDOWS_PACKAGES
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
step() { printf '\n== %s (%s)\n' "$*" "$(date +%T)"; }

# Qt for Windows from Debian's own source of the Qt this machine has, so that its host
# tools (moc, rcc, uic in /usr) match.  Static, with Qt's own zlib, libpng, libjpeg and
# freetype built in.  The host Qt's CMake files are in Debian's multiarch folder.  Debian's cleaned source lacks wintab (tablet events), and its cross
# patch needs androiddeployqt off.
qt_version=$(dpkg-query -W -f '${Version}' qt6-base-dev-tools)
qt_options="-release -static -xplatform win32-g++ -qt-host-path /usr -nomake examples -nomake tests
    -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre -no-icu -no-dbus
    -no-feature-sql -no-feature-tabletevent -no-feature-androiddeployqt -no-feature-direct2d1_1"
key=$(printf '%s\n' "$qt_version" "$qt_options" | cat - tools/mingw-w64.cmake | sha256sum | cut -c1-12)
cache=${TESSARINE_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tessarine-windows}
qt=$cache/qt-$key
export PKG_CONFIG_LIBDIR="$qt/lib/pkgconfig" # never the host's .pc files

if [ ! -f "$qt/.complete" ]; then
    step "Building Qt $qt_version for Windows into $qt (once; 15 to 30 minutes)"
    rm -rf "$qt" "$cache/src-$key"
    mkdir -p "$cache/src-$key/apt/lists/partial"
    cp tools/mingw-w64.cmake "$cache/mingw-w64-$key.cmake"
    cd "$cache/src-$key"
    # A private source list, so the machine's apt configuration stays as it is.
    echo "deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian bookworm-updates main
deb-src http://deb.debian.org/debian-security bookworm-security main" > sources.list
    apt="-o Dir::Etc::sourcelist=$PWD/sources.list -o Dir::Etc::sourceparts=/dev/null
         -o Dir::State::Lists=$PWD/apt/lists -o APT::Sandbox::User=root"
    # shellcheck disable=SC2086
    apt-get $apt update -qq
    # shellcheck disable=SC2086
    apt-get $apt source -qq "qt6-base=$qt_version"
    mkdir build && cd build
    # shellcheck disable=SC2086
    ../qt6-base-*/configure -prefix "$qt" $qt_options -- -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$cache/mingw-w64-$key.cmake" \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake > configure.log 2>&1 ||
        { tail -40 configure.log; exit 1; }
    # Ninja's progress, one line in fifty.
    cmake --build . --parallel "$jobs" | awk 'NR % 50 == 1 || /error|FAILED/'
    cmake --install . > /dev/null
    cd "$root" && rm -rf "$cache/src-$key"
    touch "$qt/.complete"
fi
[ "${1:-}" = qt ] && exit 0

# The program and its tests, linked against that Qt.
step "Building tessarine.exe and the Windows tests"
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake > /dev/null
cmake --build build-windows -j "$jobs" --target all installer
[ "${1:-}" = build ] && exit 0

# A Wine prefix of its own, made once: Windows 10, and no desktop integration of its own.
export WINEPREFIX="$cache/wine" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/.complete" ]; then
    step "Making a Wine prefix"
    rm -rf "$WINEPREFIX"
    wineboot -i > /dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.complete"
fi

step "The Windows tests under Wine"
ctest --test-dir build-windows --output-on-failure -j "$jobs"

step "The installer and the real window under Wine on Xvfb"
version=$(sed -n 's/^project(Tessarine VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
xvfb-run -a -s '-screen 0 1280x1024x24' \
    tests/wine/real_window.py "build-windows/tessarine-$version-setup.exe" "$version"
wineserver -k 2> /dev/null || true
ls -l build-windows/tessarine.exe "build-windows/tessarine-$version-setup.exe"
