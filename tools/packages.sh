# Debian 12 packages the project needs, sourced by the set-up scripts.

# Building and running the program.
TESSARINE_BUILD_PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools
    qt6-image-formats-plugins qt6-qpa-plugins qt6-translations-l10n libqt6svg6
    fonts-noto-cjk fonts-urw-base35 libheif-dev libwmf-dev libjpeg62-turbo-dev libpng-dev
    qt6-svg-dev libemf2svg-dev libuemf-dev libseccomp-dev"

# Running the tests: an X server and an X client for the real-window test,
# tools that make fixtures and test write faults (unshare, mount, chattr),
# the fuzzer's compiler, the corpus of broken pictures from Debian's test
# packages, and the checkers of the Debian package and its desktop files.
TESSARINE_TEST_PACKAGES="xvfb xauth xdotool python3-xlib imagemagick libvips-tools
    util-linux mount e2fsprogs clang libclang-rt-14-dev desktop-file-utils
    libsixel-examples gdk-pixbuf-tests golang-golang-x-image-dev afl++-doc
    lintian appstream"

# Tessarine for Windows (tools/windows.sh): the cross compiler, apt-get source's unpacking,
# Wine to run the tests and an X server for its real window, and NSIS for the installer.
TESSARINE_WINDOWS_PACKAGES="g++-mingw-w64-x86-64-posix dpkg-dev wine wine64 nsis xvfb xauth xdotool"

# Building the Debian package (tools/package.sh): dpkg-shlibdeps and dpkg-buildflags.
TESSARINE_PACKAGE_PACKAGES="dpkg-dev"

# Installs what is missing of the given packages (as root, or through sudo).
tessarine_install() {
    missing=""
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
}
