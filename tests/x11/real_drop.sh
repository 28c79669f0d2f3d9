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
if [ -z "${DISPLAY:-}" ]; then
    echo "real_drop: DISPLAY is not set; run it through with_xvfb.sh" >&2
    exit 2
fi
for tool in xdotool import convert identify; do
    if ! command -v $tool >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (Debian packages xdotool, imagemagick)"
        exit 77
    fi
done

work=$(mktemp -d) || exit 2
pid=
cleanup() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null
        tries=0
        while kill -0 "$pid" 2>/dev/null && [ $tries -lt 20 ]; do
            sleep 0.1
            tries=$((tries + 1))
        done
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 2' INT TERM

fail() {
    echo "FAIL: $1"
    exit 1
}
# The program's last words, for the failures where it died.
last_words() { tail -n 1 "$work/log" 2>/dev/null; }
pass() { echo "PASS: $1"; }

# Pixels of the window, as "X,Y=RRGGBB ...", in client coordinates (no window manager, so
# the top-level window is the client area).
pixels() {
    format=
    for point in "$@"; do
        format="$format ${point}=%[hex:u.p{$point}]"
    done
    import -window "$win" -depth 8 ppm:- 2>/dev/null | convert - -format "${format# }" info:
}
# Waits up to 5 s for the preview to show WANT at each POINT: preview_shows WANT POINT...
preview_shows() {
    want=$1
    shift
    expected=
    for point in "$@"; do expected="$expected $point=$want"; done
    tries=0
    while :; do
        seen=$(pixels "$@")
        [ "$seen" = "${expected# }" ] && return 0
        [ $tries -ge 50 ] && return 1
        sleep 0.1
        tries=$((tries + 1))
    done
}
# The program's visible top-level windows other than the main one, one "ID NAME" a line.
others() {
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
        [ "$w" = "$win" ] || echo "$w $(xdotool getwindowname "$w" 2>/dev/null)"
    done
}
# Waits up to 10 s for a window titled TITLE with the keyboard focus; sets $box.
wait_box() {
    tries=0
    while [ $tries -lt 100 ]; do
        box=$(others | awk -v t="$1" '{ id = $1; sub(/^[^ ]* /, "") } $0 == t { print id }')
        [ -n "$box" ] && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$box" ] && return 0
        kill -0 "$pid" 2>/dev/null || fail "program: exited while a box titled '$1' was awaited: $(last_words)"
        sleep 0.1
        tries=$((tries + 1))
    done
    return 1
}
# Closes the box with Return, as a person would; fails if it stays.
close_box() {
    xdotool key Return
    tries=0
    while others | grep -q "^$box "; do
        [ $tries -ge 50 ] && fail "box: '$1' still open 5 s after Return"
        sleep 0.1
        tries=$((tries + 1))
    done
}

# The pictures. "one" is striped red | green | blue, so a stretched preview is told apart
# from one drawn at its own size or shifted. The three-file drop puts the green picture
# first, in its own folder, so that both the preview and the tiles show which one was used.
mkdir "$work/one" "$work/two" "$work/other" || exit 2
convert -size 30x60 xc:red xc:lime xc:blue +append "$work/one/stripes.png" || exit 2
convert -size 120x75 xc:lime "$work/two/green.png" || exit 2
yellow="$work/other/黄色 图 yellow.png"
convert -size 60x60 xc:yellow "$yellow" || exit 2
convert -size 60x60 xc:magenta "$work/other/magenta.png" || exit 2

"$prog" >"$work/log" 2>&1 &
pid=$!
win=
tries=0
while [ -z "$win" ]; do
    win=$(xdotool search --all --onlyvisible --pid "$pid" --name '^Tessarine$' 2>/dev/null | head -n 1)
    kill -0 "$pid" 2>/dev/null || fail "start: $prog exited before showing its window: $(last_words)"
    [ $tries -ge 150 ] && fail "start: no window titled 'Tessarine' within 15 s"
    sleep 0.1
    tries=$((tries + 1))
done

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
xdotool mousemove --window "$win" 340 21 click 1
wait_box "据说打赏作者的人都长的很帅:" ||
    fail "generate: no completion box within 10 s; windows: $(others | tr '\n' ';')"
tries=0
while [ "$(ls "$work/two" | grep -c '^[1-9]\.jpg$')" -ne 9 ]; do
    [ $tries -ge 50 ] && fail "generate: tiles in the green picture's folder: $(ls "$work/two" | tr '\n' ' ')"
    sleep 0.1
    tries=$((tries + 1))
done
for n in 1 2 3 4 5 6 7 8 9; do
    tile=$work/two/$n.jpg
    [ "$(head -c 2 "$tile")" = BM ] || fail "generate: $n.jpg does not start with BM"
    got=$(identify -format '%wx%h' "$tile" 2>&1)
    [ "$got" = 40x25 ] || fail "generate: $n.jpg is $got, expected 40x25 (a third of 120x75)"
    got=$(convert "$tile" -format '%[hex:u.p{20,12}]' info: 2>&1)
    [ "$got" = 00FF00 ] || fail "generate: $n.jpg is not the green picture's ($got)"
done
stray=$(ls "$work/one" "$work/other" | grep '^[1-9]\.jpg$')
[ -z "$stray" ] || fail "generate: tiles written outside the loaded picture's folder"
close_box "completion box"
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
