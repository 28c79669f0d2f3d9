#!/bin/sh
# Starts a program on the current X display and checks that its main window, titled
# "Tessarine", has a 400 x 445 client area, is centred on the screen and cannot be resized.
# Under a bare Xvfb there is no window manager, so where the window lands is exactly where
# the program asked it to go.
#
# usage: window_check.sh PROGRAM [ARG...]
# environment: WINDOW_CHECK_TITLE (default Tessarine), WINDOW_CHECK_WAIT (seconds, default 15)
# exit status: 0 all checks passed, 1 a check failed, 2 bad use, 77 tools missing (skip)
set -u
title=${WINDOW_CHECK_TITLE:-Tessarine}
wait_seconds=${WINDOW_CHECK_WAIT:-15}
want_w=400
want_h=445

if [ $# -lt 1 ]; then
    echo "usage: window_check.sh PROGRAM [ARG...]" >&2
    exit 2
fi
if [ -z "${DISPLAY:-}" ]; then
    echo "window_check: DISPLAY is not set; run it through with_xvfb.sh" >&2
    exit 2
fi
for tool in xdotool xwininfo xprop; do
    if ! command -v $tool >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (Debian packages xdotool, x11-utils)"
        exit 77
    fi
done

log=$(mktemp) || exit 2
pid=
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null
        tries=0
        while kill -0 "$pid" 2>/dev/null && [ $tries -lt 20 ]; do
            sleep 0.1
            tries=$((tries + 1))
        done
        kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    fi
    rm -f "$log"
}
trap cleanup EXIT
trap 'exit 2' INT TERM

failures=0
pass() { echo "PASS: $1"; }
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}
info() { echo "INFO: $1"; }
show_log() {
    [ -s "$log" ] && sed 's/^/  program: /' "$log" | tail -n 20
}

screen_w=$(xwininfo -root | sed -n 's/^ *Width: *//p')
screen_h=$(xwininfo -root | sed -n 's/^ *Height: *//p')
info "screen ${screen_w}x${screen_h}, looking for a window titled '$title'"

# Another window with the same title would make any result doubtful; the program's own
# window is told apart by its _NET_WM_PID below, so the checks still run.
others=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | wc -l)
if [ "$others" -ne 0 ]; then
    fail "window: $others window(s) titled '$title' already on the display before the start"
fi

"$@" >"$log" 2>&1 &
pid=$!

# Poll rather than "xdotool search --sync", so a program that dies is noticed at once. The
# window must carry the program's process id, which Qt and other toolkits set, so that
# PROGRAM has to be the program itself rather than a script that starts it.
windows=
tries=0
while [ $tries -lt $((wait_seconds * 10)) ]; do
    windows=$(xdotool search --all --onlyvisible --pid "$pid" --name "^$title\$" 2>/dev/null)
    [ -n "$windows" ] && break
    if ! kill -0 "$pid" 2>/dev/null; then
        wait "$pid"
        fail "window: $1 exited with status $? before showing a window titled '$title'"
        pid=
        show_log
        exit 1
    fi
    sleep 0.1
    tries=$((tries + 1))
done
if [ -z "$windows" ]; then
    fail "window: the program mapped no window titled '$title' within $wait_seconds s"
    show_log
    exit 1
fi
count=$(echo "$windows" | wc -l)
window=$(echo "$windows" | head -n 1)
if [ "$count" -eq 1 ]; then
    pass "window: one window titled '$title' ($window)"
else
    fail "window: the program shows $count windows titled '$title'; checking the first"
fi

# Some programs place or size the window just after mapping it, so allow the geometry up
# to two seconds to settle on the expected values before judging it.
centred() {  # centred POSITION SCREEN_SIZE WINDOW_SIZE: within 1 px of the exact middle
    offset=$((2 * $1 - ($2 - $3)))
    [ $offset -ge -2 ] && [ $offset -le 2 ]
}
tries=0
while :; do
    geometry=$(xwininfo -id "$window")
    x=$(echo "$geometry" | sed -n 's/^ *Absolute upper-left X: *//p')
    y=$(echo "$geometry" | sed -n 's/^ *Absolute upper-left Y: *//p')
    w=$(echo "$geometry" | sed -n 's/^ *Width: *//p')
    h=$(echo "$geometry" | sed -n 's/^ *Height: *//p')
    if [ -z "$x" ] || [ -z "$w" ]; then
        fail "window: $window vanished while being measured"
        exit 1
    fi
    if [ "$w" -eq $want_w ] && [ "$h" -eq $want_h ] && centred "$x" "$screen_w" $want_w &&
        centred "$y" "$screen_h" $want_h; then
        break
    fi
    [ $tries -ge 20 ] && break
    sleep 0.1
    tries=$((tries + 1))
done

if [ "$w" -eq $want_w ] && [ "$h" -eq $want_h ]; then
    pass "size: client area ${w}x${h}"
else
    fail "size: client area is ${w}x${h}, expected ${want_w}x${want_h}"
fi

want_x2=$((screen_w - want_w))
want_y2=$((screen_h - want_h))
if centred "$x" "$screen_w" $want_w && centred "$y" "$screen_h" $want_h; then
    pass "position: client at $x,$y, centred on the ${screen_w}x${screen_h} screen"
else
    fail "position: client at $x,$y, expected $((want_x2 / 2)),$((want_y2 / 2)) (within 1 px of $want_x2/2,$want_y2/2)"
fi

# A window manager offers resizing and maximising unless the minimum and maximum sizes
# the program asks for are equal.
hints=$(xprop -id "$window" WM_NORMAL_HINTS)
min=$(echo "$hints" | sed -n 's/.*minimum size: *\([0-9]*\) by \([0-9]*\).*/\1x\2/p')
max=$(echo "$hints" | sed -n 's/.*maximum size: *\([0-9]*\) by \([0-9]*\).*/\1x\2/p')
if [ "$min" = "${want_w}x$want_h" ] && [ "$max" = "${want_w}x$want_h" ]; then
    pass "fixed size: WM_NORMAL_HINTS minimum = maximum = $min"
else
    fail "fixed size: WM_NORMAL_HINTS minimum '${min:-unset}', maximum '${max:-unset}', both expected ${want_w}x$want_h"
fi

# Informative only: how the program asks window managers to treat the maximise button.
# In these hints a set "all" bit means the listed bits are the ones taken away.
motif=$(xprop -id "$window" _MOTIF_WM_HINTS | sed -n 's/^[^=]*= *//p')
if [ -n "$motif" ]; then
    set -- $(echo "$motif" | tr ',' ' ')
    flags=$(($1)) functions=$(($2)) decorations=$(($3))
    offered() {  # offered FIELD_VALID FIELD BIT
        if [ "$1" -eq 0 ]; then
            echo offered
        elif [ $(($2 & 1)) -ne 0 ]; then
            [ $(($2 & $3)) -eq 0 ] && echo offered || echo removed
        else
            [ $(($2 & $3)) -ne 0 ] && echo offered || echo removed
        fi
    }
    info "_MOTIF_WM_HINTS = $motif: maximise function $(offered $((flags & 1)) $functions 16), maximise button $(offered $((flags & 2)) $decorations 64), resize function $(offered $((flags & 1)) $functions 2)"
else
    info "_MOTIF_WM_HINTS not set"
fi
info "window managers also drop maximise for windows whose minimum and maximum sizes match"
type=$(xprop -id "$window" _NET_WM_WINDOW_TYPE | sed -n 's/^[^=]*= *//p')
info "_NET_WM_WINDOW_TYPE = ${type:-unset}"

if ! kill -0 "$pid" 2>/dev/null; then
    fail "program: exited during the checks"
    show_log
fi
if [ $failures -ne 0 ]; then
    echo "window_check: $failures check(s) failed"
    exit 1
fi
echo "window_check: all checks passed"
