#!/usr/bin/env bash
# Runs every test: the portable core natively under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the Windows build (the same core tests and
# the Windows shell's tests) under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows
