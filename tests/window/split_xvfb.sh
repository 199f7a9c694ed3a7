#!/bin/sh
# End to end under Xvfb: start the program in a folder of demo recordings,
# select every file with the mouse, click Split, wait for the parts, close
# the window; the parts must equal those that corvella-cli split writes.
#   split_xvfb.sh BUILD_DIR
set -eu
. "$(dirname "$0")/xvfb_session.sh"

"$build/tools/corvella-demo" "$work/demo" --long 3
mkdir "$work/cli"
"$build/src/cli/corvella-cli" split --quiet -o "$work/cli" "$work"/demo/*.wav
expected=$(ls "$work/cli" | wc -l)

cd "$work/demo"
start_corvella
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
close_corvella

for part in "$work"/cli/*.wav; do
  if ! cmp -s "$part" "$work/demo/$(basename "$part")"; then
    echo "differs from the command line: $(basename "$part")"
    exit 1
  fi
done
written=$(ls "$work/demo" | grep -c '_[0-9][0-9][0-9]\.wav$')
echo "the window wrote $written parts, the command line $expected; exit code $status"
[ "$written" -eq "$expected" ] && [ "$status" -eq 0 ]
