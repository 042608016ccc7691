#!/bin/bash
# Makes the README's line-number ruler screenshots, light and dark: the ruler benchmark program's
# screenshot mode lays out two views of a note with their rulers (wrapped lines, the caret's line,
# two markers added by clicks, a selection) offscreen and writes text-view-ruler.png and
# text-view-ruler-dark.png itself (the dark one with a dark palette set on the application).
#
#   docs/screenshots/make-ruler-screenshots.sh build/bench/bench_ruler docs/screenshots
#
# Needs: fonts-dejavu-core (no display, no window manager).
set -eu
BIN=$(realpath "${1:-build/bench/bench_ruler}")
OUT="${2:-docs/screenshots}"
mkdir -p "$OUT"
export XDG_RUNTIME_DIR=$(mktemp -d)
QT_QPA_PLATFORM=offscreen "$BIN" --screenshot "$OUT"
