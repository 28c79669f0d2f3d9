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
if [ -z "${DISPLAY:-}" ]; then
    echo "real_open_dialog: DISPLAY is not set; run it through with_xvfb.sh" >&2
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

# Pixels of the window as "X,Y=RRGGBB ...", client coordinates (no window manager here).
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
# Waits up to 10 s for a new window (titled TITLE, or any title when TITLE is empty) to
# hold the keyboard focus, so that keys typed next reach it; sets $box.
wait_box() {
    tries=0
    while [ $tries -lt 100 ]; do
        box=$(others | awk -v t="$1" '{ id = $1; sub(/^[^ ]* /, "") } t == "" || $0 == t { print id }')
        [ "$(echo "$box" | wc -w)" -eq 1 ] && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$box" ] &&
            return 0
        kill -0 "$pid" 2>/dev/null || fail "program: exited while a window '$1' was awaited: $(last_words)"
        sleep 0.1
        tries=$((tries + 1))
    done
    return 1
}
# Waits up to 5 s for window $box to go; fails with WHAT if it stays.
box_gone() {
    tries=0
    while others | grep -q "^$box "; do
        [ $tries -ge 50 ] && fail "$1: window still open 5 s later"
        sleep 0.1
        tries=$((tries + 1))
    done
}
# "选择图片", type PATH in the dialog's file name field, Return.
choose() {
    xdotool mousemove --window "$win" 56 21 click 1
    wait_box "" || fail "choose $1: no file dialog with the focus within 10 s"
    xdotool type --delay 15 "$1"
    xdotool key Return
    box_gone "choose $1: file dialog"
}
tiles_in() { ls "$1" | grep -c '^[1-9]\.jpg$'; }

mkdir "$work/pics" "$work/text" || exit 2
picture=$work/pics/halves.png
# Blue over yellow, 150 x 90: a preview drawn at its own size or not stretched would show
# the background at the bottom right, and one upside down would swap the colours.
convert -size 150x45 xc:blue xc:yellow -append "$picture" || exit 2
echo "shopping list, not a picture" >"$work/text/notes.jpg"

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

choose "$picture"
preview_shows 0000FF 2,47 200,140 397,240 || fail "open: top half of the preview not blue: $seen"
preview_shows FFFF00 2,250 200,350 397,442 || fail "open: bottom half of the preview not yellow: $seen"
pass "a picture chosen in the dialog fills the preview"

xdotool mousemove --window "$win" 340 21 click 1
wait_box "据说打赏作者的人都长的很帅:" ||
    fail "generate: no completion box within 10 s; windows: $(others | tr '\n' ';')"
tries=0
while [ "$(tiles_in "$work/pics")" -ne 9 ]; do
    [ $tries -ge 50 ] && fail "generate: tiles beside the picture: $(ls "$work/pics" | tr '\n' ' ')"
    sleep 0.1
    tries=$((tries + 1))
done
for n in 1 2 3 4 5 6 7 8 9; do
    tile=$work/pics/$n.jpg
    [ "$(head -c 2 "$tile")" = BM ] || fail "generate: $n.jpg does not start with BM"
    got=$(identify -format '%wx%h' "$tile" 2>&1)
    [ "$got" = 50x30 ] || fail "generate: $n.jpg is $got, expected 50x30 (a third of 150x90)"
done
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
