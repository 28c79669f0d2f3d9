#!/bin/sh
# Checks the text/uri-list that xdnd_drop would serve, without an X server. Qt's own URL
# parser forgives unescaped spaces, so a drop test alone would not notice bad escaping.
# usage: xdnd_uri_test.sh XDND_DROP
set -u
drop=$1
case $drop in /*) ;; *) drop=$PWD/$drop ;; esac
failures=0
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT

expect() {  # expect DESCRIPTION EXPECTED_OUTPUT COMMAND...
    what=$1 want=$2
    shift 2
    got=$("$@" | tr -d '\r')
    if [ "$got" = "$want" ]; then
        echo "PASS: $what"
    else
        echo "FAIL: $what"
        echo "  expected: $want"
        echo "  got:      $got"
        failures=$((failures + 1))
    fi
}

expect "plain absolute path is kept" \
    "file:///tmp/a/plain-name_1.2~x.png" \
    "$drop" --print-uri-list /tmp/a/plain-name_1.2~x.png
expect "space and Chinese characters are escaped as UTF-8 bytes" \
    "file:///tmp/with%20space%20%E4%B8%AD%E6%96%87.png" \
    "$drop" --print-uri-list "/tmp/with space 中文.png"
expect "characters that would start a fragment, query or escape are escaped" \
    "file:///tmp/odd%23%3F%25%2B%3B%27%22.png" \
    "$drop" --print-uri-list "/tmp/odd#?%+;'\".png"
expect "several files stay in the given order, one per line" \
    "file:///b
file:///a
file:///c" \
    "$drop" --print-uri-list /b /a /c
expect "relative names are made absolute and tidied" \
    "file://$work/sub/x.png" \
    sh -c 'mkdir -p "$1/sub" && cd "$1/sub/.." && "$2" --print-uri-list ./sub/./x.png' \
    sh "$work" "$drop"

lines=$(printf 'x' | "$drop" --print-uri-list /a /b | od -An -c | tr -s ' ' | tr -d '\n')
if [ "$lines" = " f i l e : / / / a \r \n f i l e : / / / b \r \n" ]; then
    echo "PASS: lines end in CR LF"
else
    echo "FAIL: lines end in CR LF (got:$lines)"
    failures=$((failures + 1))
fi

"$drop" --print-uri-list >/dev/null 2>&1
status=$?
if [ $status -eq 1 ]; then
    echo "PASS: no files is a usage error"
else
    echo "FAIL: no files gave exit status $status, expected 1"
    failures=$((failures + 1))
fi
"$drop" --window-name X --window 0x10 --x 1 --y 1 /a >/dev/null 2>&1
status=$?
if [ $status -eq 1 ]; then
    echo "PASS: naming the window twice is a usage error"
else
    echo "FAIL: naming the window twice gave exit status $status, expected 1"
    failures=$((failures + 1))
fi

if [ $failures -ne 0 ]; then
    echo "xdnd_uri_test: $failures check(s) failed"
    exit 1
fi
echo "xdnd_uri_test: all checks passed"
