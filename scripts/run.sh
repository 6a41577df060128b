#!/usr/bin/env bash
# Builds the program for Windows and runs it under Wine, in the foreground
# until it ends (with the tray menu's "Exit"). velmorcrypt.sys, the stand-in
# disk driver, is built beside velmorcrypt.exe; the program installs it as a
# service at start and removes it at exit. Without a display the program runs
# on a private Xvfb (cmake/wine-run.sh). The build folder is build/windows
# unless VM_RUN_BUILD_DIR names another.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build_dir=${VM_RUN_BUILD_DIR:-build/windows}
cmake --preset windows -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target velmorcrypt -j "$(nproc)"
code=0
cmake/wine-run.sh "$build_dir/velmorcrypt.exe" || code=$?
# "Exit" ends the program with 32773, which the shell sees modulo 256.
if [ "$code" -eq 0 ] || [ "$code" -eq $((32773 % 256)) ]; then
  exit 0
fi
exit "$code"
