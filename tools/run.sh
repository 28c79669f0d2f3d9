#!/bin/sh
# Installs what the program needs, builds it in Release and starts it.
set -eu
cd "$(dirname "$0")/.."
. tools/packages.sh
# shellcheck disable=SC2086
tessarine_install $TESSARINE_BUILD_PACKAGES
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARINE_BUILD_TESTS=OFF -DTESSARINE_BUILD_BENCH=OFF
cmake --build build-release
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display here; to see the window run: xvfb-run -a build-release/tessarine (apt-get install xvfb)"
    exit 0
fi
exec build-release/tessarine
