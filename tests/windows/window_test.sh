#!/bin/sh
# corvella.exe under wine, on Xvfb with the openbox window manager, driven as
# a user drives it: started in a folder of demo recordings, found by its
# title, measured, its boxes' captions read as the window manager reads
# them, the "Result:" box's text copied as Windows lets a user copy it
# (Ctrl+C) and compared with corvella-cli.exe count; every good file
# selected with the mouse and split, the parts compared with those of
# corvella-cli.exe split; closed as a user closes it. Exits 0 when all holds.
#   window_test.sh HOST_BUILD_DIR WINDOWS_BUILD_DIR [SCREENSHOT_DIR]
# (the host build gives the demo recordings and a small X client.)
set -eu
host=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
shots=${3:-}
[ -n "$shots" ] && shots=$(cd "$shots" && pwd)
: "${WINEPREFIX:?set WINEPREFIX to the build's wine folder}"
# A wine folder of its own, whose server starts with this test's display and
# ends with it (the console tests' server runs without one).
WINEPREFIX=$WINEPREFIX-window
export WINEPREFIX WINEDEBUG=-all
xtool=$host/tests/window/xtool
work=$(mktemp -d)
xvfb="" app="" manager=""
cleanup() {
  wineserver -k 2>/dev/null || true
  for pid in $app $manager $xvfb; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/../support/xsession.sh"
start_display
start_openbox

cli() { wine "$build/src/cli/corvella-cli.exe" "$@" | tr -d '\r'; }
"$host/tools/corvella-demo" "$work/demo" --long 3 >/dev/null
mkdir "$work/cli"
# Paths as Windows names them (a leading slash starts an option there).
set --
for file in "$work"/demo/*.wav; do set -- "$@" "Z:$file"; done
cli split --quiet -o "Z:$work/cli" "$@"
expected=$(ls "$work/cli" | wc -l)
first=$(ls "$work/demo" | head -n 1)
printf 'not a recording' > "$work/demo/bad.wav"  # listed first

cd "$work/demo"
wine "$build/src/app/corvella.exe" </dev/null >/dev/null 2>&1 &
app=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Corvella v1.07$' | head -n 1)
[ -n "$window" ] || { echo "no window titled 'Corvella v1.07'"; exit 1; }
sleep 1
[ "$("$xtool" name "$window")" = "Corvella v1.07" ] || { echo "title is '$("$xtool" name "$window")'"; exit 1; }
# 608x433 outside, centred. Windows frames the window itself; under wine the
# window manager draws the frame, a pixel wider on each side than the one
# wine tells the program of (its caption a little lower), so a few pixels
# of play.
set -- $("$xtool" frame "$window")
near() { [ $(( $1 - $2 )) -le 3 ] && [ $(( $2 - $1 )) -le 3 ]; }
near "$3" 608 && near "$4" 433 || { echo "window is $3x$4 outside, not 608x433"; exit 1; }
near "$1" 208 && near "$2" 167 || { echo "window at $1,$2, not centred at 208,167"; exit 1; }

# Waits for the box titled exactly $1, checks its title, copies its text to
# $work/box (Ctrl+C, as Windows' message boxes allow), photographs it when
# asked, and closes it.
box() {
  found=$(timeout 30 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)
  [ "$("$xtool" name "$found")" = "$1" ] || { echo "box title is '$("$xtool" name "$found")', not '$1'"; exit 1; }
  sleep 0.5
  : > "$work/box"
  for _ in $(seq 20); do
    xdotool windowactivate --sync "$found" 2>/dev/null || true
    xdotool key --window "$found" ctrl+c
    sleep 0.3
    timeout 5 xclip -o -selection clipboard 2>/dev/null | tr -d '\r' > "$work/box" || true
    grep -q "^$1" "$work/box" && break
  done
  if [ -n "$shots" ] && [ -n "${2:-}" ]; then "$xtool" grab "$shots/$2" "$found"; fi
  for _ in $(seq 40); do
    "$xtool" close "$found"
    sleep 0.3
    xdotool search --onlyvisible --name "^$1\$" | grep -qx "$found" || return 0
  done
  echo "the '$1' box did not close"
  exit 1
}

# The source list lies at (192, 24), 16 pixels a row: click the second
# entry, shift-click the fourth, then Split at (120, 372).
xdotool mousemove --window "$window" 220 50 click 1
xdotool keydown shift mousemove --window "$window" 220 82 click 1 keyup shift
xdotool mousemove --window "$window" 120 372 click 1
parts() { ls "$work/demo" | grep -c '_[0-9][0-9][0-9]\.wav$' || true; }
for _ in $(seq 600); do [ "$(parts)" -ge "$expected" ] && break; sleep 0.1; done
sleep 1
[ -n "$shots" ] && "$xtool" grab "$shots/corvella-window-wine.png" "$window"

xdotool mousemove --window "$window" 260 368 click 1
box "About Corvella"
# The bad file: its error, then the result of the run.
xdotool mousemove --window "$window" 220 34 click 1
xdotool mousemove --window "$window" 48 372 click 1
box "Error"
grep -qx "Not a valid WAV file!" "$work/box" || { echo "not the error of a file that is no WAV:"; cat "$work/box"; exit 1; }
box "Result:"
# The first recording: the count the command line gives.
xdotool mousemove --window "$window" 220 50 click 1
xdotool mousemove --window "$window" 48 372 click 1
box "Result:"
said=$(grep 'contains' "$work/box")
want=$(cd "$work/demo" && cli count "$first")
[ "$said" = "$want" ] || { echo "the window said '$said', corvella-cli.exe '$want'"; exit 1; }

for _ in $(seq 100); do
  "$xtool" close "$window" || true
  sleep 0.3
  kill -0 "$app" 2>/dev/null || break
done
kill -0 "$app" 2>/dev/null && { echo "the window did not close when asked"; exit 1; }
status=0
wait "$app" || status=$?
app=""
for part in "$work"/cli/*.wav; do
  cmp -s "$part" "$work/demo/${part##*/}" || { echo "differs from the command line: ${part##*/}"; exit 1; }
done
echo "under wine and openbox: 608x433 centred; '$said'; the window wrote $(parts) parts as the command line did ($expected); exit code $status"
[ "$(parts)" -eq "$expected" ] && [ "$status" -eq 0 ]
