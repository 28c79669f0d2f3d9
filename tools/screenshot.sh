#!/bin/sh
# Makes docs/screenshot.png: the window under Xvfb with the thank-you card
# in the preview and the grid ticked off.  Needs a built program
# (default build-release/tessarine), xvfb, xdotool and ImageMagick.
set -eu
cd "$(dirname "$0")/.."
program=${1:-build-release/tessarine}
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"

"$program" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
window=$(timeout 10 xdotool search --sync --onlyvisible --name '^Tessarine$' | head -n 1)
sleep 0.5
# "打赏作者" sits at (216..281, 5..38) in the window.
xdotool mousemove --window "$window" 248 21 click 1
xdotool mousemove --window "$window" 390 60 # keep the pointer off the preview's tooltip
sleep 0.5
mkdir -p docs
import -window "$window" docs/screenshot.png
echo "wrote docs/screenshot.png"
