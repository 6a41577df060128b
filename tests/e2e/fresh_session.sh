# Sourced by the end-to-end scripts, with `work` set to a folder of the build
# tree: makes $work anew with a fresh Wine prefix in $work/wineprefix and a
# private Xvfb as DISPLAY, both ended when the script exits.
export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=
[ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work"

display_file=$(mktemp)
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
end_session() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -f "$display_file"
}
trap end_session EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$display_file")
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

echo "making a fresh Wine prefix"
wineboot -i >/dev/null 2>&1 || true
wineserver -w
