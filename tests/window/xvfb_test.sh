#!/bin/sh
# The real program under Xvfb: started in a folder of demo recordings, found
# by its title, measured and photographed; every file selected with the mouse
# and split; closed as a window manager would. Its parts must equal those of
# corvella-cli split, and it must exit with 0.
#   xvfb_test.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
work=$(mktemp -d)
xvfb="" app=""
trap '[ -n "$app" ] && kill "$app"; [ -n "$xvfb" ] && kill "$xvfb"; rm -rf "$work"' EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM

"$build/tools/corvella-demo" "$work/demo" --long 3
mkdir "$work/cli"
"$build/src/cli/corvella-cli" split --quiet -o "$work/cli" "$work"/demo/*.wav
expected=$(ls "$work/cli" | wc -l)

cd "$work/demo"
"$build/src/app/corvella" 2>"$work/stderr" &
app=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Corvella v1.07$' | head -n 1)
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH" = 608 ] && [ "$HEIGHT" = 433 ] || { echo "window is ${WIDTH}x$HEIGHT, not 608x433"; exit 1; }
"$build/tests/window/xtool" grab "$build/corvella-window.png"

# The source list lies at (192, 24), 16 pixels a row: click the first entry,
# shift-click the third, then Split at (120, 372).
xdotool mousemove --window "$window" 220 34 click 1
xdotool keydown shift mousemove --window "$window" 220 66 click 1 keyup shift
xdotool mousemove --window "$window" 120 372 click 1
"$build/tests/window/xtool" grab "$build/corvella-split.png"
parts() { ls "$work/demo" | grep -c '_[0-9][0-9][0-9]\.wav$' || true; }
for _ in $(seq 300); do [ "$(parts)" -ge "$expected" ] && break; sleep 0.1; done
sleep 0.5

# Ask the window to close, again if a request goes astray on the way.
for _ in $(seq 20); do
  "$build/tests/window/xtool" close "$window" || true
  sleep 0.5
  kill -0 "$app" 2>/dev/null || break
done
status=0
wait "$app" || status=$?
app=""
for part in "$work"/cli/*.wav; do
  cmp -s "$part" "$work/demo/${part##*/}" || { echo "differs from the command line: ${part##*/}"; exit 1; }
done
echo "the window wrote $(parts) parts, the command line $expected; exit code $status"
[ "$(parts)" -eq "$expected" ] && [ "$status" -eq 0 ]
