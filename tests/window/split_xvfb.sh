#!/bin/sh
# End to end under Xvfb: start the program in a folder of demo recordings,
# select every file with the mouse, click Split, wait for the parts, close
# the window; the parts must equal those that corvella-cli split writes.
#   split_xvfb.sh BUILD_DIR
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

"$build/tools/corvella-demo" "$work/demo" --long 3
mkdir "$work/cli"
"$build/src/cli/corvella-cli" split --quiet -o "$work/cli" "$work"/demo/*.wav
expected=$(ls "$work/cli" | wc -l)

cd "$work/demo"
"$build/src/app/corvella" 2>"$work/stderr" &
app=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Corvella v1.07$' | head -n 1)
sleep 0.5
# The source list lies at (192, 24) in the window, 16 pixels a row: click the
# first entry, shift-click the third, then Split at (120, 372).
xdotool mousemove --window "$window" 220 34 click 1
xdotool keydown shift mousemove --window "$window" 220 66 click 1 keyup shift
xdotool mousemove --window "$window" 120 372 click 1

shot=""
for _ in $(seq 300); do
  [ -z "$shot" ] && "$build/tests/window/grab-screen" "$build/corvella-split.png" && shot=1
  [ "$(ls "$work/demo" | grep -c '_[0-9][0-9][0-9]\.wav$')" -ge "$expected" ] && break
  sleep 0.1
done
sleep 0.5
# Ask the window to close, again if a request goes astray on the way.
for _ in $(seq 20); do
  "$build/tests/window/close-window" "$window" 2>/dev/null || true
  sleep 0.5
  kill -0 "$app" 2>/dev/null || break
done
status=0
wait "$app" || status=$?
app=""

for part in "$work"/cli/*.wav; do
  if ! cmp -s "$part" "$work/demo/$(basename "$part")"; then
    echo "differs from the command line: $(basename "$part")"
    exit 1
  fi
done
written=$(ls "$work/demo" | grep -c '_[0-9][0-9][0-9]\.wav$')
echo "the window wrote $written parts, the command line $expected; exit code $status"
[ "$written" -eq "$expected" ] && [ "$status" -eq 0 ]
