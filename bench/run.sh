#!/bin/sh
# The performance benchmark: builds in Release, makes photo-like test
# pictures once (kept in build-bench/pictures, about 220 MiB), then times the
# program's handlers, whole runs of the program and the nearest command-line
# tools on the same files, and prints markdown tables.
#
#   bench/run.sh [RUNS]      RUNS measured rounds (default 5), medians shown
#                            with the worst run beside them
#
# Needs djpeg (libjpeg-turbo-progs), convert (imagemagick) and vips
# (libvips-tools).  TESSARINE_BENCH_DIR moves the pictures elsewhere; the
# tiles and the tools' output are written beside them and removed again.
set -eu
cd "$(dirname "$0")/.."
for tool in djpeg /usr/bin/convert vips; do
    command -v "$tool" >/dev/null || { echo "bench/run.sh: $tool is missing" >&2; exit 1; }
done
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTESSARINE_BUILD_TESTS=OFF -DTESSARINE_BUILD_BENCH=ON >/dev/null
cmake --build build-bench --target tessarine_bench -j "$(nproc)" >/dev/null

# Soft clouds with grain, as a camera gives: JPEG sizes come out like those of
# photographs (a few bits a pixel at quality 90, chroma halved both ways),
# which a flat colour would not give.  Each picture has a folder of its own,
# since the tiles are written beside it.
pictures="${TESSARINE_BENCH_DIR:-build-bench/pictures}"
picture() { # FILE WIDTH HEIGHT [DEPTH]
    [ -f "$pictures/$1" ] && return 0
    echo "making $pictures/$1" >&2
    mkdir -p "$pictures/$(dirname "$1")"
    /usr/bin/convert -seed "$2" -size "$(($2 / 4))x$(($3 / 4))" plasma:fractal \
        -resize "$2x$3!" -attenuate 0.5 +noise Gaussian -depth "${4:-8}" -sampling-factor 2x2 -quality 90 \
        "$pictures/$1.part.${1##*.}"
    mv "$pictures/$1.part.${1##*.}" "$pictures/$1"
}
picture jpeg12/photo.jpg 4000 3000
picture jpeg24/photo.jpg 6000 4000
picture jpeg48/photo.jpg 8000 6000
picture png24/photo.png 6000 4000
picture png24x16/photo.png 6000 4000 16

# A phone stores a portrait photo sideways and tags it with an EXIF orientation: the
# 24-megapixel photo itself, its compressed data untouched, behind an Exif segment that
# says "turn a quarter clockwise" (6) or "anticlockwise" (8).  Same data, so the
# rows differ from the upright one only in the turning.
turned() { # ORIENTATION
    [ -f "$pictures/jpeg24o$1/photo.jpg" ] && return 0
    mkdir -p "$pictures/jpeg24o$1"
    { printf '\377\330\377\341\000\042Exif\000\000MM\000\052\000\000\000\010'
      printf '\000\001\001\022\000\003\000\000\000\001\000\'"$(printf %03o "$1")"'\000\000\000\000\000\000'
      tail -c +3 "$pictures/jpeg24/photo.jpg"; } >"$pictures/jpeg24o$1/photo.jpg"
}
turned 6
turned 8

export QT_QPA_PLATFORM=offscreen
mkdir -p -m 700 build-bench/runtime
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$PWD/build-bench/runtime}"
exec build-bench/bench/tessarine_bench report "${1:-5}" "$pictures/jpeg12/photo.jpg" \
    "$pictures/jpeg24/photo.jpg" "$pictures/jpeg24o6/photo.jpg" "$pictures/jpeg24o8/photo.jpg" \
    "$pictures/jpeg48/photo.jpg" "$pictures/png24/photo.png" "$pictures/png24x16/photo.png"
