#!/usr/bin/env bash
# Runs every test:
#   1. the portable core natively, under AddressSanitizer and
#      UndefinedBehaviorSanitizer;
#   2. the concurrency tests under ThreadSanitizer;
#   3. a short run of every fuzz target (about a minute in all);
#   4. the Windows build under Wine with one Xvfb display: the same core
#      tests, the Windows shell's tests, the stand-in driver's tests, the
#      end-to-end journey and the screenshots (build/windows/screenshots/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

echo "== native (ASan, UBSan)"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

echo "== concurrency (TSan)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan

echo "== fuzz (short run)"
scripts/fuzz.sh

echo "== windows (Wine)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset windows

# The README shows the screenshots that this run took.
mkdir -p docs/screenshots
cp build/windows/screenshots/{status,create,mount,options,about,tray_menu}.png docs/screenshots/
