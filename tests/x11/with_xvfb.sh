#!/bin/sh
# Runs a command on a private Xvfb server of 1280x1024, 24 bit, and passes on its exit
# status. Exits 77, which CTest reads as "skipped", where xvfb-run is not installed.
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "SKIP: xvfb-run is not installed (Debian package xvfb)"
    exit 77
fi
if [ $# -eq 0 ]; then
    echo "usage: with_xvfb.sh COMMAND [ARG...]" >&2
    exit 2
fi
# Qt must draw on the X server even where the caller's environment prefers another backend.
QT_QPA_PLATFORM=xcb
export QT_QPA_PLATFORM
# -noreset: by default Xvfb resets whenever its last client leaves, and a program started
# just then fails to connect; tests that start one program after another hit that.
exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$@"
