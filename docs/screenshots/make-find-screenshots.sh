#!/bin/bash
# Makes the README's find bar screenshots, light and dark: the find benchmark program's screenshot
# mode opens a note window offscreen, opens its find bar with Ctrl+F (Ctrl+H in the dark one, with
# the replace row), types a word and steps to its second match, and writes find-bar.png and
# find-bar-dark.png itself (the dark one with a dark palette set on the application).
#
#   docs/screenshots/make-find-screenshots.sh build/bench/bench_find docs/screenshots
#
# Needs: fonts-dejavu-core (no display, no window manager).
set -eu
BIN=$(realpath "${1:-build/bench/bench_find}")
OUT="${2:-docs/screenshots}"
mkdir -p "$OUT"
export XDG_RUNTIME_DIR=$(mktemp -d)
QT_QPA_PLATFORM=offscreen "$BIN" --screenshot "$OUT"
