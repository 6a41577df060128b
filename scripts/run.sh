#!/usr/bin/env bash
# Builds the program for Windows and checks the cryptography under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
exec cmake/wine-run.sh build/windows/tests/native/crypto_test.exe
