#!/bin/sh
# The real program under Xvfb, without a window manager or under openbox:
# started in a folder of demo recordings, found by its title, measured over
# repeated starts, its boxes' captions read as the window manager reads
# them; every good file selected with the mouse and split; closed as a
# window manager would. Its parts must equal those of corvella-cli split,
# and it must exit with 0.
#   xvfb_test.sh BUILD_DIR [openbox] [SCREENSHOT_DIR]
set -eu
build=$(cd "$1" && pwd)
wm=${2:-none}
shots=${3:-}
[ -n "$shots" ] && shots=$(cd "$shots" && pwd)
xtool=$build/tests/window/xtool
work=$(mktemp -d)
xvfb="" app="" manager=""
# Every helper is stopped whatever happened, so that none keeps the test's
# output open after it ends.
cleanup() {
  for pid in $app $manager $xvfb; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/../support/xsession.sh"
start_display
unset QT_QPA_PLATFORM
[ "$wm" = openbox ] && start_openbox

"$build/tools/corvella-demo" "$work/demo" --long 3
mkdir "$work/cli"
"$build/src/cli/corvella-cli" split --quiet -o "$work/cli" "$work"/demo/*.wav
expected=$(ls "$work/cli" | wc -l)
printf 'not a recording' > "$work/demo/bad.wav"  # listed first

launch="" options=""
start() {  # with $launch (VARIABLE=VALUE...) and $options (a command line) given
  env $launch "$build/src/app/corvella" $options 2>>"$work/stderr" &
  app=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Corvella v1.07$' | head -n 1)
  sleep 0.5
}
# Asks the window to close, again if a request goes astray on the way (on
# a loaded machine some do), and never waits for ever.
stop() {
  for _ in $(seq 100); do
    "$xtool" close "$window" || true
    sleep 0.3
    kill -0 "$app" 2>/dev/null || break
  done
  if kill -0 "$app" 2>/dev/null; then
    kill -9 "$app"
    echo "the window did not close when asked"
    exit 1
  fi
  status=0
  wait "$app" || status=$?
  app=""
}
# The outer size, frame included, and the place: centred on the screen.
check_geometry() {
  set -- $("$xtool" frame "$window")
  [ "$3x$4" = 608x433 ] || { echo "start $1: window is $3x$4 outside, not 608x433"; exit 1; }
  [ "$1,$2" = "208,167" ] || { echo "window at $1,$2, not centred at 208,167"; exit 1; }
}
# Waits for the box titled exactly $1, checks its title as the window
# manager reads it, photographs it when asked, and closes it.
box() {
  found=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)
  [ "$("$xtool" name "$found")" = "$1" ] || { echo "box title is '$("$xtool" name "$found")', not '$1'"; exit 1; }
  if [ -n "$shots" ] && [ -n "${2:-}" ]; then sleep 0.3; "$xtool" grab "$shots/$2" "$found"; fi
  # Closed as a window manager closes it, again if the request comes while
  # the toolkit still counts the box behind the one before.
  for _ in $(seq 40); do
    "$xtool" close "$found"
    sleep 0.25
    xdotool search --onlyvisible --name "^$1\$" | grep -qx "$found" || return 0
  done
  echo "the '$1' box did not close"
  exit 1
}

starts=3
[ "$wm" = openbox ] && starts=20
cd "$work/demo"
for n in $(seq "$starts"); do
  start
  check_geometry "$n"
  [ "$n" -eq "$starts" ] && "$xtool" grab "$work/plain.png" "$window"
  stop
  [ "$status" -eq 0 ] || { echo "exit code $status"; exit 1; }
done
# The program reads no arguments, and no scale in the environment changes
# its layout: with the toolkit's own options and a scale factor it looks
# exactly as without.
launch="QT_SCALE_FACTOR=1.5 QT_SCREEN_SCALE_FACTORS=2" options="-qwindowtitle Hello -reverse"
start
check_geometry options
"$xtool" grab "$work/options.png" "$window"
cmp -s "$work/plain.png" "$work/options.png" || { echo "Qt's options or a scale factor changed the window"; exit 1; }

# The source list lies at (192, 24), 16 pixels a row: click the second
# entry, shift-click the fourth, then Split at (120, 372).
xdotool mousemove --window "$window" 220 50 click 1
xdotool keydown shift mousemove --window "$window" 220 82 click 1 keyup shift
xdotool mousemove --window "$window" 120 372 click 1
parts() { ls "$work/demo" | grep -c '_[0-9][0-9][0-9]\.wav$' || true; }
for _ in $(seq 300); do [ "$(parts)" -ge "$expected" ] && break; sleep 0.1; done
sleep 0.5

# The three boxes: the about box, an error, a result.
[ -n "$shots" ] && "$xtool" grab "$shots/corvella-window.png" "$window"
xdotool mousemove --window "$window" 260 368 click 1
box "About Corvella" corvella-about.png
xdotool mousemove --window "$window" 220 34 click 1
xdotool mousemove --window "$window" 48 372 click 1
box "Error"
box "Result:"
xdotool mousemove --window "$window" 220 66 click 1
xdotool mousemove --window "$window" 48 372 click 1
box "Result:" corvella-result.png

stop
for part in "$work"/cli/*.wav; do
  cmp -s "$part" "$work/demo/${part##*/}" || { echo "differs from the command line: ${part##*/}"; exit 1; }
done
echo "window manager: $wm; $starts starts at 608x433, centred; the window wrote $(parts) parts, the command line $expected; exit code $status"
[ "$(parts)" -eq "$expected" ] && [ "$status" -eq 0 ]
