#!/bin/sh
# Proves xdnd_drop works by dropping files on drop_receiver, a Qt window laid out like
# Tessarine's. Run it on an X server, e.g. through with_xvfb.sh.
# usage: xdnd_selftest.sh XDND_DROP DROP_RECEIVER
set -u
if [ $# -ne 2 ]; then
    echo "usage: xdnd_selftest.sh XDND_DROP DROP_RECEIVER" >&2
    exit 2
fi
drop=$1
receiver=$2
# The helper is also run from other directories below.
case $drop in /*) ;; *) drop=$PWD/$drop ;; esac
case $receiver in /*) ;; *) receiver=$PWD/$receiver ;; esac
if [ -z "${DISPLAY:-}" ]; then
    echo "xdnd_selftest: DISPLAY is not set; run it through with_xvfb.sh" >&2
    exit 2
fi
if ! command -v xdotool >/dev/null 2>&1; then
    echo "SKIP: xdotool is not installed"
    exit 77
fi

work=$(mktemp -d) || exit 2
receiver_pid=
cleanup() {
    if [ -n "$receiver_pid" ]; then
        kill "$receiver_pid" 2>/dev/null
        wait "$receiver_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 2' INT TERM

failures=0
case_name=
pass() { echo "PASS: $case_name: $1"; }
fail() {
    echo "FAIL: $case_name: $1"
    failures=$((failures + 1))
}

# Starts a receiver with output to $work/out and $work/err, and waits until its window is
# on screen. The previous receiver has always exited or been killed by then, so the title
# cannot match a stale window.
start_receiver() {
    : >"$work/out"
    : >"$work/err"
    "$receiver" "$@" >"$work/out" 2>"$work/err" &
    receiver_pid=$!
    window=
    tries=0
    while [ $tries -lt 100 ]; do
        window=$(xdotool search --onlyvisible --name '^DropReceiver$' 2>/dev/null | head -n 1)
        [ -n "$window" ] && return 0
        if ! kill -0 "$receiver_pid" 2>/dev/null; then
            fail "receiver exited before showing its window: $(cat "$work/err")"
            receiver_pid=
            return 1
        fi
        sleep 0.1
        tries=$((tries + 1))
    done
    fail "receiver window did not appear within 10 s"
    return 1
}

# Waits up to 5 s for the receiver to quit by itself; sets receiver_status (124 = did not).
wait_receiver() {
    tries=0
    while kill -0 "$receiver_pid" 2>/dev/null && [ $tries -lt 50 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    if kill -0 "$receiver_pid" 2>/dev/null; then
        kill "$receiver_pid"
        wait "$receiver_pid" 2>/dev/null
        receiver_status=124
    else
        wait "$receiver_pid"
        receiver_status=$?
    fi
    receiver_pid=
}

stop_receiver() {
    kill "$receiver_pid" 2>/dev/null
    wait "$receiver_pid" 2>/dev/null
    receiver_pid=
}

# run_drop EXPECTED_STATUS ARG...: runs xdnd_drop, time-bound, in directory $drop_dir (if
# set), and checks its exit status.
run_drop() {
    want=$1
    shift
    (cd "${drop_dir:-.}" && exec timeout 30 "$drop" "$@") >"$work/drop.out" 2>"$work/drop.err"
    status=$?
    if [ $status -eq "$want" ]; then
        pass "xdnd_drop exited $status: $(head -n 1 "$work/drop.out" "$work/drop.err" | grep -v '^==>' | grep . | head -n 1)"
        return 0
    fi
    fail "xdnd_drop exited $status, expected $want"
    sed 's/^/  drop: /' "$work/drop.out" "$work/drop.err"
    return 1
}

# expect_output FILE...: the receiver must have printed exactly these paths, in this order.
expect_output() {
    : >"$work/want"
    for f in "$@"; do
        printf '%s\n' "$f" >>"$work/want"
    done
    if cmp -s "$work/want" "$work/out"; then
        pass "receiver got $# file(s) in order"
    else
        fail "receiver output differs from what was dropped"
        sed 's/^/  expected: /' "$work/want"
        sed 's/^/  got:      /' "$work/out"
        sed 's/^/  receiver: /' "$work/err"
    fi
}

mkdir -p "$work/files"
one="$work/files/single.png"
spaced="$work/files/with space 中文名.png"
odd="$work/files/odd#name 100%?.png"
plain="$work/files/plain.txt"
for f in "$one" "$spaced" "$odd" "$plain"; do
    printf 'x' >"$f"
done

# Client point in the middle of the preview and one in the button strip.
preview_x=200 preview_y=245
strip_x=200 strip_y=20

case_name="one file"
if start_receiver; then
    run_drop 0 --window-name DropReceiver --x $preview_x --y $preview_y "$one" &&
        grep -q 'XdndActionCopy' "$work/drop.out" && pass "copy action reported"
    wait_receiver
    [ $receiver_status -eq 0 ] && pass "receiver quit after the drop" ||
        fail "receiver status $receiver_status after the drop"
    expect_output "$one"
fi

case_name="three files"
if start_receiver; then
    # One name relative to the working directory, to be made absolute by the helper.
    drop_dir="$work/files"
    run_drop 0 --window-name DropReceiver --x 10 --y 440 "$spaced" ./plain.txt "$odd"
    drop_dir=
    wait_receiver
    expect_output "$spaced" "$plain" "$odd"
fi

case_name="button strip"
if start_receiver; then
    run_drop 3 --window-name DropReceiver --x $strip_x --y $strip_y "$one"
    grep -q 'refused' "$work/drop.out" || fail "no 'refused' line printed"
    sleep 0.3
    kill -0 "$receiver_pid" 2>/dev/null && pass "receiver still running" ||
        fail "receiver quit after a refused drag"
    [ -s "$work/out" ] && fail "receiver printed files after a refused drag: $(cat "$work/out")"

    case_name="errors"
    run_drop 4 --window-name DropReceiver --x 400 --y 100 "$one"
    run_drop 4 --window-name DropReceiver --x 10 --y -1 "$one"
    started=$(date +%s)
    run_drop 2 --window-name NoSuchWindow --wait 1 "$one" --x 1 --y 1
    [ $(($(date +%s) - started)) -le 4 ] && pass "missing window reported promptly" ||
        fail "missing window took more than 4 s"
    run_drop 2 --window 0x7ffffff --x 1 --y 1 "$one"

    case_name="drop by window id after a refused drag"
    run_drop 0 --window "$window" --x $preview_x --y 399 "$one"
    wait_receiver
    expect_output "$one"
fi

case_name="drop turned down"
if start_receiver --reject-drop; then
    run_drop 6 --window-name DropReceiver --x $preview_x --y $preview_y "$one"
    grep -q 'not accepted' "$work/drop.out" || fail "no 'not accepted' line printed"
    [ -s "$work/out" ] && fail "receiver printed files: $(cat "$work/out")"
    stop_receiver
fi

case_name="no answer"
# A window that claims XdndAware but never answers must time out, not hang.
if start_receiver; then
    kill -STOP "$receiver_pid"
    started=$(date +%s)
    run_drop 5 --window-name DropReceiver --x $preview_x --y $preview_y --timeout 1 "$one"
    [ $(($(date +%s) - started)) -le 4 ] && pass "gave up within the timeout" ||
        fail "took more than 4 s to give up"
    kill -CONT "$receiver_pid"
    stop_receiver
fi

if [ $failures -ne 0 ]; then
    echo "xdnd_selftest: $failures check(s) failed"
    exit 1
fi
echo "xdnd_selftest: all checks passed"
