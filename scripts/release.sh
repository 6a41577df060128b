#!/usr/bin/env bash
# Builds the Windows release (the program with its help file, the stand-in
# driver, the command-line tool) and packs it into one zip:
# build/release/velmorcrypt-<version>.zip
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target velmorcrypt velmorcrypt-cli velmorcrypt_sys velmorcrypt_help
version=$(sed -n 's/^project(Velmorcrypt VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=build/release/velmorcrypt-$version
rm -rf "$stage" "$stage.zip"
mkdir -p "$stage"
cp build/windows/velmorcrypt.exe build/windows/velmorcrypt.sys build/windows/Velmorcrypt.chm "$stage/"
cp "$(find build/windows/cli -name velmorcrypt-cli.exe | head -n 1)" "$stage/"
cp docs/user-guide.md LICENSE "$stage/"
x86_64-w64-mingw32-strip "$stage"/*.exe
(cd build/release && zip -q -r "velmorcrypt-$version.zip" "velmorcrypt-$version")
echo "build/release/velmorcrypt-$version.zip"
unzip -l "build/release/velmorcrypt-$version.zip"
