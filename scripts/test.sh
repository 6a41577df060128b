#!/usr/bin/env bash
# Runs every test:
#   1. the portable core natively, under AddressSanitizer and
#      UndefinedBehaviorSanitizer;
#   2. the concurrency tests under ThreadSanitizer;
#   3. a short run of every fuzz target (about a minute in all);
#   4. the Windows build under Wine with one Xvfb display: the same core
#      tests, the Windows shell's tests, the stand-in driver's tests, the
#      help file, the end-to-end journey and the screenshots with their
#      artwork check at 96, 120, 144 and 192 DPI and with a larger dialog
#      font (build/windows/screenshots/; scripts/screenshots.sh copies them
#      for the README);
#   5. the release (scripts/release.sh): every shipped file's signature, the
#      setup program installed, run and uninstalled under Wine in a fresh
#      prefix, and the Debian package (lintian, install and remove in a
#      throw-away root).
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
xvfb-run -a -s "-screen 0 1024x768x24" ctest --preset windows -LE release

echo "== release (signatures, the setup program under Wine, the Debian package)"
scripts/release.sh
ctest --preset windows -L release
