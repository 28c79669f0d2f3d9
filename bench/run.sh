#!/bin/sh
# The performance benchmark: builds in Release, makes the photo-like test
# pictures once (about 60 MiB, kept in build-bench/pictures), then times the
# program's handlers, whole runs of the program and the nearest command-line
# tools on the same files, and prints a markdown table.
#
#   bench/run.sh [RUNS]      RUNS per measurement, 5 or more (default 5)
#
# Needs djpeg (libjpeg-turbo-progs), convert (imagemagick) and vips
# (libvips-tools); the pictures and tool outputs go to TESSARINE_BENCH_DIR
# (default build-bench/pictures).
set -eu
cd "$(dirname "$0")/.."
for tool in djpeg /usr/bin/convert vips; do
    command -v "$tool" >/dev/null || { echo "bench/run.sh: $tool is missing" >&2; exit 1; }
done
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARINE_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target tessarine_bench >/dev/null
export QT_QPA_PLATFORM=offscreen
mkdir -p -m 700 build-bench/runtime
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$PWD/build-bench/runtime}"
exec build-bench/bench/tessarine_bench report "${TESSARINE_BENCH_DIR:-build-bench/pictures}" "${1:-5}"
