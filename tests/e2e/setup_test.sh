#!/usr/bin/env bash
# What scripts/release.sh made for Windows, as a user's machine meets it:
# every .exe and .sys in the zip, the setup program and the uninstaller it
# installs carry an Authenticode SHA-256 signature that osslsigncode
# verifies (and an unsigned build does not); the shipped driver passes the
# loader check with its signature; and in a fresh Wine prefix with a private
# Xvfb the setup program installs silently, after which setup_test.exe runs
# the rest (upgrade, the installed program and its driver, refusals,
# uninstalls).
# Usage: setup_test.sh <windows build dir> <release dir> <version>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build_dir=$(cd "$1" && pwd)
release=$(cd "$2" && pwd)
version=$3
setup=$release/velmorcrypt-$version-setup.exe
source "$here/check_support.sh"
# A release's certificate chains to the system's authorities; the
# development certificate is its own.
ca=$release/signing/development-cert.pem
[ -z "${VM_SIGN_CERT:-}" ] || ca=/etc/ssl/certs/ca-certificates.crt
signed() { osslsigncode verify -in "$1" -CAfile "$ca" | grep -q "Message digest algorithm *: SHA256"; }

work=$build_dir/e2e-setup
source "$here/fresh_session.sh"
unzip -q "$release/velmorcrypt-$version.zip" -d "$work/zip"
for file in "$work"/zip/*/*.exe "$work"/zip/*/*.sys "$setup"; do
  check "$(basename "$file") is signed" signed "$file"
done
check "an unsigned build does not pass as signed" bash -c "! osslsigncode verify -in '$build_dir/velmorcrypt.sys' -CAfile '$ca'"
check "the shipped driver keeps the loader's rules, signature included" \
  python3 "$here/../../standin-driver/check_image.py" "$(echo "$work"/zip/*/velmorcrypt.sys)" --signed

check "setup /S installs" wine "$setup" /S
installed=$WINEPREFIX/drive_c/Program\ Files/Velmorcrypt
for file in "$installed"/*.exe "$installed"/*.sys; do
  check "installed $(basename "$file") is signed" signed "$file"
done
code=0
wine "$build_dir/tests/e2e/setup_test.exe" "$(winepath -w "$setup")" "$version" --gtest_color=no || code=$?
check "setup_test.exe" test "$code" -eq 0
# The prefix is large; it is kept only when something failed.
if [ "$failed" -eq 0 ]; then
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
summary
