#!/bin/bash
# Makes the README's text view screenshot: the benchmark program's screenshot window (two views of
# a long note: a caret with its line's band, a selection, invisible characters) under Xvfb with a
# small window manager, grabbed with its frame.
#
#   xvfb-run -a -s "-screen 0 1280x800x24" docs/screenshots/make-textview-screenshot.sh build/bench/bench_textview docs/screenshots
#
# Needs: xvfb, openbox, xdotool, imagemagick.
set -eu
BIN=$(realpath "${1:-build/bench/bench_textview}")
mkdir -p "${2:-docs/screenshots}"
OUT=$(realpath "${2:-docs/screenshots}")
export XDG_RUNTIME_DIR=$(mktemp -d)

openbox > /dev/null 2>&1 &
WM=$!
sleep 1
"$BIN" --screenshot > /dev/null 2>&1 &
APP=$!
WID=$(xdotool search --sync --onlyvisible --name "^Notes" | head -1)
sleep 1.5
read -r x y w h < <(xwininfo -id "$WID" -frame | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width/{w=$2} /Height/{h=$2} END{print x, y, w, h}')
top=$(xwininfo -id "$WID" -frame | awk '/Relative upper-left Y/{print $4}')
left=$(xwininfo -id "$WID" -frame | awk '/Relative upper-left X/{print $4}')
import -window root -crop "$((w + 2 * left))x$((h + top + left))+$((x - left))+$((y - top))" +repage "$OUT/text-view.png"
kill $APP
kill $WM
