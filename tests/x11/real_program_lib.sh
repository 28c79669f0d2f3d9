# Shared by the tests that drive the real program on an X server: the
# checks for the tools, a private work folder, the program's start and
# certain end, pixels of its window, and its boxes and dialogs.
# Sourced after setting $prog (the program) and $me (the test's name).
if [ -z "${DISPLAY:-}" ]; then
    echo "$me: DISPLAY is not set; run it through with_xvfb.sh" >&2
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
# Starts the program and waits up to 15 s for its main window; sets $pid and $win.
start_program() {
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
}

tiles_in() { ls "$1" | grep -c '^[1-9]\.jpg$'; }

# Presses "生成图片", waits for the completion box and for nine tiles in
# FOLDER, each a bitmap of SIZE (WxH); the box is left open.
cut_expecting_tiles() {
    xdotool mousemove --window "$win" 340 21 click 1
    wait_box "据说打赏作者的人都长的很帅:" ||
        fail "generate: no completion box within 10 s; windows: $(others | tr '\n' ';')"
    tries=0
    while [ "$(tiles_in "$1")" -ne 9 ]; do
        [ $tries -ge 50 ] && fail "generate: tiles in $1: $(ls "$1" | tr '\n' ' ')"
        sleep 0.1
        tries=$((tries + 1))
    done
    for n in 1 2 3 4 5 6 7 8 9; do
        [ "$(head -c 2 "$1/$n.jpg")" = BM ] || fail "generate: $n.jpg does not start with BM"
        got=$(identify -format '%wx%h' "$1/$n.jpg" 2>&1)
        [ "$got" = "$2" ] || fail "generate: $n.jpg is $got, expected $2"
    done
}
