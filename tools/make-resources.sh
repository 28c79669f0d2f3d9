#!/bin/sh
# Rebuilds the artwork generator in a throwaway build directory and regenerates the
# committed pictures under resources/.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mktemp -d "${TMPDIR:-/tmp}/tessarine-resources.XXXXXX")
trap 'rm -rf "$build"' EXIT

cmake -S "$root/tools" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --parallel >/dev/null
"$build/make_resources" "$root"
echo "resources regenerated under $root/resources"
