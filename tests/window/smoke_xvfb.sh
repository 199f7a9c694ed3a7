#!/bin/sh
# Starts the real program under Xvfb in a folder of demo recordings, finds its
# window by its title, checks its size, takes a screenshot into the build
# folder and closes it as a window manager would; the program must exit with 0.
#   smoke_xvfb.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
work=$(mktemp -d)
xvfb=""
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=":$(cat "$work/display")"
export DISPLAY
unset QT_QPA_PLATFORM

"$build/tools/corvella-demo" "$work/demo"
cd "$work/demo"
"$build/src/app/corvella" 2>"$work/stderr" &
app=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Corvella v1.07$' | head -n 1)
[ -n "$window" ] || { echo "no window titled Corvella v1.07"; exit 1; }
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "window $window: ${WIDTH}x${HEIGHT} at $X,$Y"
if [ "$WIDTH" != 608 ] || [ "$HEIGHT" != 433 ]; then
  echo "expected 608x433"
  exit 1
fi
"$build/tests/window/grab-screen" "$build/corvella-window.png"
echo "screenshot: $build/corvella-window.png"
# Ask the window to close, again if a request goes astray on the way.
for _ in $(seq 20); do
  "$build/tests/window/close-window" "$window" 2>/dev/null || true
  sleep 0.5
  kill -0 "$app" 2>/dev/null || break
done
status=0
wait "$app" || status=$?
app=""
echo "exit code $status"
[ "$status" -eq 0 ]
