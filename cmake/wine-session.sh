#!/usr/bin/env bash
# start: makes the private prefix of a build tree and keeps its Wine server
# alive for the test run; stop: ends the server.
set -euo pipefail
action=$1
build_dir=$2
export WINEPREFIX=$build_dir/wineprefix WINEARCH=win64 WINEDEBUG=-all
case $action in
  start)
    VM_BUILD_DIR=$build_dir "$(dirname "$0")/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
    test -f "$WINEPREFIX/.vm-ready"
    (setsid wineserver -p >/dev/null 2>&1 &)
    ;;
  stop)
    wineserver -k || true
    ;;
esac
