#!/bin/sh
# Runs a Windows test program under Wine with Qt's offscreen platform, and shows what it said:
# Qt Test's output on a pipe is lost under Wine, so it goes to a file.  Wine passes on only
# the variables named WINE<name>.  WINEPREFIX is tools/windows.sh's prefix.
set -u
out=$(mktemp)
WINEDEBUG=-all WINEQT_QPA_PLATFORM=offscreen WINEQT_QPA_FONTDIR='Z:\usr\share\fonts\opentype\noto' \
    wine "$@" -o "$out,txt"
status=$?
cat "$out"
rm -f "$out"
exit $status
