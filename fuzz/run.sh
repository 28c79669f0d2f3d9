#!/bin/sh
# Builds the loading-path fuzz target with clang in its own build folder and
# runs it for SECONDS (default 60).  Exits non-zero on any finding; the input
# that caused it is kept in build-fuzz/findings/ for a test to reproduce.
# The corpus grows in build-fuzz/corpus/ and is reused by the next run.
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TESSARINE_FUZZ_BUILD:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTESSARINE_FUZZ=ON -DTESSARINE_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --target fuzz_loading tst_decode

rm -rf "$build/made" "$build/findings" && mkdir -p "$build/corpus" "$build/findings" "$build/made"
# A single picture may decode to at most the decoder's 1 GiB, plus the
# converted copy and the preview; more than that is a finding, as is an
# input that takes longer than 10 s: every file is loaded or refused within
# 3 s of processor time, and the sanitizers slow our own loops threefold.
# libemf2svg's one known over-read is excused (tests/asan.supp).
export QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ASAN_OPTIONS="suppressions=$root/tests/asan.supp:detect_leaks=1:abort_on_error=1:allocator_may_return_null=0" \
    LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
# Seeds: every picture the decoding test makes on the spot (build-fuzz/made/:
# metafiles, HEIF, bit-field bitmaps, turned JPEGs, ICC profiles ...), the
# inputs kept in fuzz/seeds/, our own pictures and the broken pictures of
# Debian's test packages (tools/packages.sh), those that are installed.
TESSARINE_SEEDS="$build/made" "$build/tests/tst_decode" -silent decodes 2>/dev/null
seeds=$(ls -d "$build/made" "$root/fuzz/seeds" "$root/resources" /usr/share/doc/afl++-doc/afl/testcases/images \
    /usr/share/gocode/src/golang.org/x/image/testdata /usr/share/doc/libsixel-examples/examples/images \
    /usr/libexec/installed-tests/gdk-pixbuf/test-images 2>/dev/null || true)
"$build/fuzz/fuzz_loading" -max_total_time="$seconds" -timeout="${TESSARINE_FUZZ_TIMEOUT:-10}" -rss_limit_mb=4096 -malloc_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/findings/" "$build/corpus" $seeds
