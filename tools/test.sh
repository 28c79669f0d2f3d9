#!/bin/sh
# Installs what the tests need, builds, and runs the whole suite through
# CTest twice: a normal build, then one under AddressSanitizer and
# UndefinedBehaviorSanitizer where any report fails the test.
set -eu
cd "$(dirname "$0")/.."
. tools/packages.sh
# shellcheck disable=SC2086
tessarine_install $TESSARINE_BUILD_PACKAGES $TESSARINE_TEST_PACKAGES
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-test -j "$jobs"
ctest --test-dir build-test --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARINE_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1" \
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The Debian package: built, installed into this machine, run and removed again. It
# changes /usr, so it runs only as root and otherwise says it was skipped.
tests/package/install.sh

# A minute of fuzzing the loading path, after replaying the corpus kept
# from earlier runs; a crash, leak, slow input (over 10 s under the
# sanitizers), hang or impossible outcome fails the run and leaves the input
# in build-fuzz/findings/, which a green run leaves empty.
fuzz/run.sh 60

# Tessarine for Windows: cross-built (Qt once, then from its cache), its tests under Wine,
# and its installer installed, run and removed under Wine on Xvfb.
tools/windows.sh
