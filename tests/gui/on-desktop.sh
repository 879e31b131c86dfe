#!/usr/bin/env bash
# Runs a test on the xcb platform of its own X server (Xvfb) with a window manager (openbox),
# as a desktop gives the activation back to a window when a dialog closes, and with a session bus
# of its own, as every desktop has: without one, Qt's accessibility and theme look for it in vain
# and leave that search's leftovers at exit.
set -euo pipefail
for tool in Xvfb openbox dbus-run-session; do
  command -v "$tool" >/dev/null || { echo "on-desktop: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
work=$(mktemp -d)
cleanup() {
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The server picks a free display number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "on-desktop: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -1 "$work/display")"
export HOME="$work" # openbox and the test keep their settings here, not in the user's
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
# The window manager is running once it owns the screen's WM selection.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.05
done
export QT_QPA_PLATFORM=xcb
dbus-run-session -- "$@"
