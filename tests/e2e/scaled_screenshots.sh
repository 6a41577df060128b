#!/usr/bin/env bash
# The main window at 120, 144 and 192 DPI, and at 96 DPI with a larger dialog
# font (the face Wine falls back to without its own fonts): for each, the
# display scaling and the face of "MS Shell Dlg" are set in a private prefix
# of the build tree, its Wine server is restarted (it reads them at start),
# and screenshots.sh takes and checks the pictures into <output dir>/<look>/.
# Usage: scaled_screenshots.sh <build dir> <output dir>
set -euo pipefail
build_dir=$(cd "$1" && pwd)
out_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=$build_dir/wineprefix-scaled WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=
export VM_BUILD_DIR=$build_dir
trap 'wineserver -k 2>/dev/null || true' EXIT

# Makes the prefix once (with Wine's fonts, as every prefix of the build).
"$here/../../cmake/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
test -f "$WINEPREFIX/.vm-ready"

set_look() {
  local dpi=$1 face=$2 value
  wineserver -k 2>/dev/null || true
  wineserver -w
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f
  for value in "MS Shell Dlg" "MS Shell Dlg 2"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v "$value" /t REG_SZ /d "$face" /f
  done
  wineserver -k 2>/dev/null || true
  wineserver -w
}

status=0
for look in "dpi-120 120 Tahoma" "dpi-144 144 Tahoma" "dpi-192 192 Tahoma" \
  "larger-font 96 DejaVu Sans"; do
  read -r name dpi face <<<"$look"
  echo "== $name: $dpi DPI, \"MS Shell Dlg\" is $face"
  set_look "$dpi" "$face" >/dev/null 2>&1
  VM_SHOT_SCREEN=1280x1024 "$here/screenshots.sh" "$build_dir" "$out_dir/$name" || status=1
done
exit "$status"
