#!/usr/bin/env bash
# start: makes the private prefix of a build tree and keeps its Wine server
# alive for the test run; stop: ends the server.
#
# A server that is still shutting down (the one that made the prefix, or the
# last run's) makes the next Wine program fail with "recvmsg: Connection
# reset by peer". So start waits until no server of the prefix runs, starts
# the persistent one, and returns only once a Wine program has run against
# it; stop waits until the server is gone.
set -euo pipefail
action=$1
build_dir=$2
export WINEPREFIX=$build_dir/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
case $action in
  start)
    VM_BUILD_DIR=$build_dir "$(dirname "$0")/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
    test -f "$WINEPREFIX/.vm-ready"
    wineserver -w
    # The server detaches itself once its socket is ready.
    setsid wineserver -p >/dev/null 2>&1 || true
    for _ in $(seq 60); do
      timeout 60 wine cmd /c exit 0 >/dev/null 2>&1 && exit 0
      sleep 1
    done
    echo "the Wine server of $WINEPREFIX does not answer" >&2
    exit 1
    ;;
  stop)
    wineserver -k || true
    wineserver -w || true
    ;;
esac
