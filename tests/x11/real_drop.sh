#!/bin/sh
# Drops files on the real Tessarine window from another X client, as a file manager would,
# and checks what a person would see: the preview's pixels, the refusal over the buttons,
# and the nine tiles written beside the dropped picture.
#
# usage: real_drop.sh TESSARINE XDND_DROP     (on an X server, e.g. through with_xvfb.sh)
# exit status: 0 passed, 1 a check failed (one FAIL line says which), 2 bad use, 77 skip
set -u
if [ $# -ne 2 ]; then
    echo "usage: real_drop.sh TESSARINE XDND_DROP" >&2
    exit 2
fi
prog=$1
drop=$2
me=real_drop
. "$(dirname "$0")/real_program_lib.sh"

# The pictures. "one" is striped red | green | blue, so a stretched preview is told apart
# from one drawn at its own size or shifted. The three-file drop puts the green picture
# first, in its own folder, so that both the preview and the tiles show which one was used.
mkdir "$work/one" "$work/two" "$work/other" || exit 2
convert -size 30x60 xc:red xc:lime xc:blue +append "$work/one/stripes.png" || exit 2
convert -size 120x75 xc:lime "$work/two/green.png" || exit 2
yellow="$work/other/黄色 图 yellow.png"
convert -size 60x60 xc:yellow "$yellow" || exit 2
convert -size 60x60 xc:magenta "$work/other/magenta.png" || exit 2

start_program

# The drawing area is client (2,47)-(397,442): its corners and its middle.
top_left=2,47
middle=200,245
bottom_right=397,442

"$drop" --window "$win" --x 200 --y 245 "$work/one/stripes.png" >/dev/null
status=$?
[ $status -eq 0 ] || fail "drop one file on the preview: xdnd_drop exited $status, expected 0 (accepted)"
preview_shows FF0000 $top_left 68,442 || fail "drop one file: left third not red: $seen"
preview_shows 00FF00 $middle 200,47 200,442 || fail "drop one file: middle third not green: $seen"
preview_shows 0000FF $bottom_right 332,47 || fail "drop one file: right third not blue: $seen"
pass "one dropped picture fills the preview"

"$drop" --window "$win" --x 200 --y 245 "$work/two/green.png" "$yellow" "$work/other/magenta.png" >/dev/null
status=$?
[ $status -eq 0 ] || fail "drop three files: xdnd_drop exited $status, expected 0 (accepted)"
preview_shows 00FF00 $top_left $middle $bottom_right ||
    fail "drop three files: preview does not show only the first (green): $seen"
pass "of three dropped files the first is shown"

"$drop" --window "$win" --x 200 --y 20 "$work/other/magenta.png" >/dev/null
status=$?
[ $status -eq 3 ] || fail "drop on the buttons: xdnd_drop exited $status, expected 3 (refused)"
sleep 0.3
preview_shows 00FF00 $top_left $middle $bottom_right ||
    fail "drop on the buttons: preview changed: $seen"
pass "a drop on the buttons is refused and changes nothing"

# "生成图片"
cut_expecting_tiles "$work/two" 40x25 # a third of 120x75
for n in 1 2 3 4 5 6 7 8 9; do
    got=$(convert "$work/two/$n.jpg" -format '%[hex:u.p{20,12}]' info: 2>&1)
    [ "$got" = 00FF00 ] || fail "generate: $n.jpg is not the green picture's ($got)"
done
stray=$(ls "$work/one" "$work/other" | grep '^[1-9]\.jpg$')
[ -z "$stray" ] || fail "generate: tiles written outside the loaded picture's folder"
xdotool key Return
box_gone "completion box after Return"
pass "nine 40x25 BMP tiles beside the first dropped picture; Return closes the box"

# The name with a space and Chinese characters, dropped on its own, must load too.
"$drop" --window "$win" --x 200 --y 245 "$yellow" >/dev/null
status=$?
[ $status -eq 0 ] || fail "drop '$(basename "$yellow")': xdnd_drop exited $status, expected 0"
preview_shows FFFF00 $top_left $middle $bottom_right ||
    fail "drop '$(basename "$yellow")': preview is not yellow: $seen"
pass "a name with a space and Chinese characters loads"

kill -0 "$pid" 2>/dev/null || fail "program: exited during the checks: $(last_words)"
echo "real_drop: all checks passed"
