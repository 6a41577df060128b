#!/usr/bin/env bash
# check_art.py itself: the background picture repeated over a larger window
# (the fault it is there to catch) fails; the picture at its own size passes.
# Usage: check_art_test.sh <background.bmp>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -size 585x470 "tile:$1" "$work/tiled.png"
convert "$1" "$work/exact.png"
if python3 "$here/check_art.py" "$work/tiled.png"; then
  echo "the tiled background passed" >&2
  exit 1
fi
python3 "$here/check_art.py" "$work/exact.png"
