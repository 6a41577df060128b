#!/usr/bin/env bash
# The end-to-end journey: a fresh Wine prefix and a fresh work folder under
# the build tree, a private Xvfb, and journey.exe, which copies the program
# into the work folder, starts it and drives it as a user would. Each "SHOT
# name" line of journey.exe becomes a picture of the screen, <out dir>/
# name.png, and is answered with a line; the other lines are passed on. A
# failed journey leaves a picture of the screen as it was then.
# Usage: journey.sh <build dir> <out dir>
set -euo pipefail
build_dir=$(cd "$1" && pwd)
out_dir=$2
mkdir -p "$out_dir"
rm -f "$out_dir"/journey-*.png

work=$build_dir/e2e-journey
source "$(dirname "$0")/fresh_session.sh"
mkdir -p "$work/data"
(setsid wineserver -p >/dev/null 2>&1 &)

# journey.exe waits at most 60 s for any one step; a silence of 150 s, or a
# run of 240 s, is a hang.
coproc JOURNEY {
  timeout 240 wine "$build_dir/tests/e2e/journey.exe" "$(winepath -w "$build_dir")" "$(winepath -w "$work")"
}
journey_pid=$JOURNEY_PID from_journey=${JOURNEY[0]} to_journey=${JOURNEY[1]}
while IFS= read -r -t 150 -u "$from_journey" line; do
  line=${line%$'\r'}
  case $line in
    "SHOT "*)
      import -window root "$out_dir/${line#SHOT }.png"
      echo "shot $out_dir/${line#SHOT }.png"
      echo taken >&"$to_journey"
      ;;
    *) echo "$line" ;;
  esac
  # The program started by journey.exe holds the pipe open: stop at the end.
  case $line in done | "SHOT journey-failure") break ;; esac
done
code=0
[ "${line:-}" = done ] || code=1
wait "$journey_pid" || code=$?
if [ "$code" -ne 0 ]; then
  [ -f "$out_dir/journey-failure.png" ] || import -window root "$out_dir/journey-failure.png"
  echo "the journey failed (exit code $code); the screen is in $out_dir/journey-failure.png" >&2
  exit 1
fi
# The prefix is large; it is kept only when the journey failed.
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
