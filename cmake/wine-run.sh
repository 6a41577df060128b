#!/usr/bin/env bash
# Runs a Windows program under Wine with a private prefix beside the build
# tree (made once, under a lock). Used as CMAKE_CROSSCOMPILING_EMULATOR, so
# ctest runs the Windows tests through it. Without a display it starts the
# program under a private Xvfb.
set -euo pipefail

exe=$1
shift
build_dir=${VM_BUILD_DIR:-$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done && pwd)}
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [ ! -f "$WINEPREFIX/.vm-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.vm-ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.vm-ready"
  fi
  flock -u 9
fi

# Wine's own fonts (Debian's fonts-wine) where every Wine finds them, also in
# a prefix made before they were installed: without them "MS Shell Dlg"
# falls back to a larger face.
fonts=$WINEPREFIX/drive_c/windows/Fonts
if [ -f /usr/share/wine/fonts/tahoma.ttf ] && [ ! -e "$fonts/tahoma.ttf" ]; then
  mkdir -p "$fonts"
  ln -sf /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
fi

if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$exe" "$@"
fi
exec wine "$exe" "$@"
