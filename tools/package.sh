#!/bin/sh
# Builds the Debian package build-package/tessarine_VERSION_ARCH.deb: a Release build
# with Debian's hardening flags, packed by CPack with Depends from dpkg-shlibdeps (see
# resources/release.cmake). Prints the package's path as its last line.
set -eu
cd "$(dirname "$0")/.."
. tools/packages.sh
# shellcheck disable=SC2086
tessarine_install $TESSARINE_BUILD_PACKAGES $TESSARINE_PACKAGE_PACKAGES

build=build-package
# Debian's hardening flags, bind-now included, given on the command line rather than
# through the environment so a reused build folder cannot keep earlier ones.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTESSARINE_BUILD_TESTS=OFF -DTESSARINE_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build "$build"
rm -f "$build"/tessarine_*.deb
(cd "$build" && cpack -G DEB)
ls "$PWD/$build"/tessarine_*.deb
