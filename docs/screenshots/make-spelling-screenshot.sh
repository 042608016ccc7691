#!/bin/bash
# Makes the README's spelling screenshot: the spelling benchmark's screenshot mode (a note window
# with spelling and grammar marks and the context menu open on a misspelt word) under Xvfb with a
# small window manager, so that the window has its frame.
#
#   xvfb-run -a -s "-screen 0 1280x800x24" docs/screenshots/make-spelling-screenshot.sh build/bench/bench_spelling docs/screenshots
#
# Needs: xvfb, openbox.
set -eu
BIN=$(realpath "${1:-build/bench/bench_spelling}")
mkdir -p "${2:-docs/screenshots}"
OUT=$(realpath "${2:-docs/screenshots}")
export XDG_RUNTIME_DIR=$(mktemp -d)
export QT_QPA_PLATFORM=xcb

openbox > /dev/null 2>&1 &
WM=$!
sleep 1
"$BIN" --screenshot "$OUT"
kill $WM
