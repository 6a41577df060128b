#!/usr/bin/env bash
# Runs a Windows test program under Wine, then restarts the build tree's Wine
# server: for a program that leaves Wine's service manager in a state only a
# restart clears (a driver's refused stop). ctest runs it alone (RUN_SERIAL).
# Usage: run_alone_then_restart_wine.sh <build dir> <program> [arguments]
set -uo pipefail
build_dir=$1
shift
here=$(cd "$(dirname "$0")/../.." && pwd)
VM_BUILD_DIR=$build_dir "$here/cmake/wine-run.sh" "$@"
status=$?
"$here/cmake/wine-session.sh" stop "$build_dir" >/dev/null 2>&1
"$here/cmake/wine-session.sh" start "$build_dir" || status=1
exit "$status"
