#!/usr/bin/env bash
# Screenshots of the main window on each page and of the tray menu: starts a
# private Xvfb, runs velmorcrypt.exe under Wine on it, lets the helper
# program mount a sample volume and switch the pages (it sends the page
# list's selection change to the window) and takes a picture of the screen
# after each step. Each page's picture is cut to the main window and its
# artwork checked (check_art.py: the frame on the four edges, no seam of
# frame colour inside). The program must end with the exit code of "Exit".
# Usage: screenshots.sh <build dir> <output dir>
# The prefix is the build tree's (or $WINEPREFIX); $VM_SHOT_SCREEN sets the
# screen's size (1024x768 by default).
set -euo pipefail
build_dir=$(cd "$1" && pwd)
out_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
runner=$here/../../cmake/wine-run.sh
mkdir -p "$out_dir"

# The server picks a free display itself and writes its number to a file.
display_file=$(mktemp)
Xvfb -displayfd 9 -screen 0 "${VM_SHOT_SCREEN:-1024x768}x24" -nolisten tcp 9>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -f "$display_file"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
display=:$(head -n1 "$display_file")
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

export VM_BUILD_DIR=$build_dir
"$runner" "$build_dir/velmorcrypt.exe" &
app_pid=$!

# The helper waits for the window, selects each page in turn and waits until
# the page is shown; it prints the page's name when the screen can be taken
# and reads a line back when the picture is done.
coproc SHOOT { "$runner" "$build_dir/tests/e2e/screenshot_driver.exe"; }
# Bash forgets a coprocess's variables once it has ended: keep copies.
shoot_pid=$SHOOT_PID
exec {shoot_out}<&"${SHOOT[0]}" {shoot_in}>&"${SHOOT[1]}"
failed=0
while IFS= read -r -u "$shoot_out" line; do
  line=${line%$'\r'}
  read -r page x y width height <<<"$line"
  [ "$page" = done ] && break
  if [ -n "${height:-}" ]; then
    import -window root -crop "${width}x${height}+${x}+${y}" +repage "$out_dir/$page.png"
    python3 "$here/check_art.py" "$out_dir/$page.png" || failed=1
  else
    import -window root "$out_dir/$page.png"
  fi
  echo taken >&"$shoot_in"
done
wait "$shoot_pid"
code=0
wait "$app_pid" || code=$?
app_pid=
# The program ends through the tray menu's "Exit".
[ "$code" -eq 32773 ] || [ "$code" -eq $((32773 % 256)) ] || { echo "exit code $code" >&2; exit 1; }
ls "$out_dir"/*.png
[ "$failed" -eq 0 ] || { echo "the artwork check failed" >&2; exit 1; }
