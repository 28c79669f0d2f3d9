#!/bin/sh
# Chooses pictures in the real Tessarine's file dialog by typing their paths, as a person
# would, then cuts one; a text file named like a picture must be turned away with a box and
# leave no tiles.
#
# usage: real_open_dialog.sh TESSARINE     (on an X server, e.g. through with_xvfb.sh)
# exit status: 0 passed, 1 a check failed (one FAIL line says which), 2 bad use, 77 skip
set -u
if [ $# -ne 1 ]; then
    echo "usage: real_open_dialog.sh TESSARINE" >&2
    exit 2
fi
prog=$1
me=real_open_dialog
. "$(dirname "$0")/real_program_lib.sh"
# "选择图片", type PATH in the dialog's file name field, Return.
choose() {
    xdotool mousemove --window "$win" 56 21 click 1
    wait_box "" || fail "choose $1: no file dialog with the focus within 10 s"
    xdotool type --delay 15 "$1"
    xdotool key Return
    box_gone "choose $1: file dialog"
}

mkdir "$work/pics" "$work/text" || exit 2
picture=$work/pics/halves.png
# Blue over yellow, 150 x 90: a preview drawn at its own size or not stretched would show
# the background at the bottom right, and one upside down would swap the colours.
convert -size 150x45 xc:blue xc:yellow -append "$picture" || exit 2
echo "shopping list, not a picture" >"$work/text/notes.jpg"

start_program

choose "$picture"
preview_shows 0000FF 2,47 200,140 397,240 || fail "open: top half of the preview not blue: $seen"
preview_shows FFFF00 2,250 200,350 397,442 || fail "open: bottom half of the preview not yellow: $seen"
pass "a picture chosen in the dialog fills the preview"

cut_expecting_tiles "$work/pics" 50x30 # a third of 150x90
xdotool key Return
box_gone "generate: completion box after Return"
pass "nine 50x30 BMP tiles beside the chosen picture; Return closes the box"

# The tiles of the good picture go, so that any tile seen later was written after the
# text file was chosen.
rm -f "$work"/pics/[1-9].jpg
choose "$work/text/notes.jpg"
wait_box "警告：" || fail "bad file: no warning box within 10 s; windows: $(others | tr '\n' ';')"
xdotool key Return
box_gone "bad file: warning box after Return"
pass "a text file named notes.jpg brings a warning box; Return closes it"

xdotool mousemove --window "$win" 340 21 click 1
wait_box "通知:" || fail "generate after the bad file: no 'load a picture first' box; windows: $(others | tr '\n' ';')"
xdotool key Return
box_gone "generate after the bad file: box after Return"
[ "$(tiles_in "$work/text")" -eq 0 ] && [ "$(tiles_in "$work/pics")" -eq 0 ] ||
    fail "generate after the bad file: tiles were written"
pass "after the bad file nothing is loaded and no tiles are written"

kill -0 "$pid" 2>/dev/null || fail "program: exited during the checks: $(last_words)"
echo "real_open_dialog: all checks passed"
