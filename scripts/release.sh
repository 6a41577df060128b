#!/usr/bin/env bash
# Builds what a release ships, in build/release/:
#   velmorcrypt-<version>.zip            the portable program: program, help
#                                        file, stand-in driver, command-line
#                                        tool, user guide, licence
#   velmorcrypt-<version>-setup.exe      the setup program (setup/velmorcrypt.nsi)
#   velmorcrypt-cli_<version>_amd64.deb  the command-line tool for Debian
# Every .exe and .sys, the setup program and its uninstaller are signed
# with Authenticode by scripts/sign.sh (VM_SIGN_CERT and VM_SIGN_PASSWORD
# name a release's certificate; without them a development certificate
# signs). A certificate that does not open stops the release before any
# build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/sign.sh --check
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target velmorcrypt velmorcrypt-cli velmorcrypt_sys velmorcrypt_help
version=$(sed -n 's/^project(Velmorcrypt VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
release=$PWD/build/release
stage=$release/velmorcrypt-$version
setup=$release/velmorcrypt-$version-setup.exe
rm -rf "$stage" "$stage.zip" "$setup" "$release"/velmorcrypt-cli_*.deb
mkdir -p "$stage"
cp build/windows/velmorcrypt.exe build/windows/velmorcrypt.sys build/windows/Velmorcrypt.chm "$stage/"
cp "$(find build/windows/cli -name velmorcrypt-cli.exe | head -n 1)" "$stage/"
cp docs/user-guide.md LICENSE "$stage/"
x86_64-w64-mingw32-strip "$stage"/*.exe
scripts/sign.sh "$stage"/*.exe "$stage"/*.sys
python3 standin-driver/check_image.py "$stage/velmorcrypt.sys" --signed
(cd "$release" && zip -q -r "velmorcrypt-$version.zip" "velmorcrypt-$version")

makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DSIGN="$PWD/scripts/sign.sh" \
  -DOUTFILE="$setup" setup/velmorcrypt.nsi

# The Debian package, from a release build of the tool alone.
cmake --preset package >/dev/null
cmake --build --preset package -j "$(nproc)" --target velmorcrypt-cli
(cd build/package && cpack -G DEB -B "$PWD/cpack" >/dev/null)
cp build/package/cpack/velmorcrypt-cli_"$version"_amd64.deb "$release/"

echo "$stage.zip"
unzip -l "$stage.zip"
echo "$setup"
echo "$release/velmorcrypt-cli_${version}_amd64.deb"
dpkg-deb --info "$release/velmorcrypt-cli_${version}_amd64.deb"
