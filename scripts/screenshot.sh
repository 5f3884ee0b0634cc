#!/bin/sh
# Takes the README's screenshot: starts kesmark under Xvfb on the two demo
# shop databases, clicks Compare, selects a differing table (its first
# differing property, the SQL, then shows in the difference pane) and saves
# the screen to docs/kesmark.png.
# Usage: scripts/screenshot.sh [BUILD_DIR]   (default: build)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
[ -x "$build/bin/kesmark" ] || { echo "no $build/bin/kesmark: build first" >&2; exit 2; }
work=$(mktemp -d)
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

sqlite3 "$work/shop-v1.db" < scripts/demo/shop-v1.sql
sqlite3 "$work/shop-v2.db" < scripts/demo/shop-v2.sql
# The program reads Kesmark.ini beside itself: give it a folder of its own.
cp "$build/bin/kesmark" "$work/"
cp settings/Kesmark.default.ini "$work/Kesmark.ini"
sed -i "s|^Database1=.*|Database1=$work/shop-v1.db|; s|^Database2=.*|Database2=$work/shop-v2.db|" "$work/Kesmark.ini"

display=:${DISPLAY_NUMBER:-97}
Xvfb "$display" -screen 0 1000x640x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
DISPLAY=$display "$work/kesmark" &
app=$!
window=$(DISPLAY=$display xdotool search --sync --name '^Kesmark v')
DISPLAY=$display xdotool windowsize "$window" 960 600
DISPLAY=$display xdotool windowmove "$window" 20 20
sleep 1
# The Compare button, then the second node of the tree (the differing table
# Customers), below the tree's tools.
DISPLAY=$display xdotool mousemove --window "$window" 400 118 click 1
sleep 2
DISPLAY=$display xdotool mousemove --window "$window" 110 220 click 1
sleep 1
mkdir -p docs
DISPLAY=$display import -window root docs/kesmark.png
echo "saved docs/kesmark.png"
