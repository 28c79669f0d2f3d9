#!/bin/sh
# Shows that window_check.sh fails, and names the right problem, for windows that each get
# one thing wrong. Run it on an X server, e.g. through with_xvfb.sh.
# usage: window_check_faults.sh WINDOW_CHECK DROP_RECEIVER
set -u
if [ $# -ne 2 ]; then
    echo "usage: window_check_faults.sh WINDOW_CHECK DROP_RECEIVER" >&2
    exit 2
fi
check=$1
receiver=$2
out=$(mktemp) || exit 2
trap 'rm -f "$out"' EXIT
failures=0

# expect NAME STATUS "FAIL LINES THAT MUST APPEAR" "FAIL LINES THAT MUST NOT" -- COMMAND...
# Lines are matched by their "FAIL: topic:" prefix, separated by '|'.
expect() {
    name=$1 want_status=$2 must=$3 mustnot=$4
    shift 5
    timeout 60 "$@" >"$out" 2>&1
    status=$?
    ok=1
    if [ $status -ne "$want_status" ]; then
        echo "FAIL: $name: window_check exited $status, expected $want_status"
        ok=0
    fi
    old_ifs=$IFS
    IFS='|'
    for topic in $must; do
        grep -q "^FAIL: $topic:" "$out" || {
            echo "FAIL: $name: no 'FAIL: $topic:' line"
            ok=0
        }
    done
    for topic in $mustnot; do
        grep -q "^FAIL: $topic:" "$out" && {
            echo "FAIL: $name: unexpected 'FAIL: $topic:' line"
            ok=0
        }
    done
    IFS=$old_ifs
    if [ $ok -eq 1 ]; then
        echo "PASS: $name"
    else
        failures=$((failures + 1))
        sed 's/^/  window_check: /' "$out"
    fi
}

expect "a correct window passes" 0 "" "window|size|position|fixed size|program" -- \
    sh "$check" "$receiver" --fixed-centred --title Tessarine
expect "a resizable window is caught" 1 "fixed size" "window|size|position" -- \
    sh "$check" "$receiver" --centred --title Tessarine
expect "a window in the corner is caught" 1 "position" "window|size|fixed size" -- \
    sh "$check" "$receiver" --fixed --title Tessarine
expect "a window 5 px too tall is caught" 1 "size|fixed size" "window" -- \
    sh "$check" "$receiver" --fixed-centred --strip-height 50 --title Tessarine
expect "a window with another title is not taken for it" 1 "window" "" -- \
    env WINDOW_CHECK_WAIT=2 sh "$check" "$receiver" --fixed-centred
expect "a program that dies at once is reported" 1 "window" "" -- \
    sh "$check" "$receiver" --no-such-option
expect "a window of another program with the same title is reported" 1 "window" \
    "size|position|fixed size" -- \
    sh -c '"$1" --fixed-centred --title Tessarine & other=$!
           timeout 10 xdotool search --sync --onlyvisible --name "^Tessarine\$" >/dev/null
           sh "$2" "$1" --fixed-centred --title Tessarine; status=$?
           kill $other; wait $other; exit $status' sh "$receiver" "$check"

if [ $failures -ne 0 ]; then
    echo "window_check_faults: $failures case(s) failed"
    exit 1
fi
echo "window_check_faults: all cases passed"
