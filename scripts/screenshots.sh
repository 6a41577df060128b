#!/usr/bin/env bash
# Refreshes the README's pictures in docs/screenshots/: builds the Windows
# program, takes the screenshots of every page and of the tray menu at 96 DPI
# and of the window at 144 DPI (150 percent) under Wine and Xvfb, checks their
# artwork (tests/e2e/check_art.py) and copies them. The test command takes
# the same pictures into build/windows/screenshots/ and leaves docs/ alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target velmorcrypt screenshot_driver
shots=build/windows/screenshots
tests/e2e/screenshots.sh build/windows "$shots"
tests/e2e/scaled_screenshots.sh build/windows "$shots"
mkdir -p docs/screenshots
cp "$shots"/{status,create,mount,options,about,tray_menu}.png docs/screenshots/
cp "$shots/dpi-144/status.png" docs/screenshots/status-150.png
ls -l docs/screenshots/
