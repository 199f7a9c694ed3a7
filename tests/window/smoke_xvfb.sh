#!/bin/sh
# Starts the real program under Xvfb in a folder of demo recordings, finds its
# window by its title, checks its size, takes a screenshot into the build
# folder and closes it as a window manager would; the program must exit with 0.
#   smoke_xvfb.sh BUILD_DIR
set -eu
. "$(dirname "$0")/xvfb_session.sh"

"$build/tools/corvella-demo" "$work/demo"
cd "$work/demo"
start_corvella
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "window $window: ${WIDTH}x${HEIGHT} at $X,$Y"
if [ "$WIDTH" != 608 ] || [ "$HEIGHT" != 433 ]; then
  echo "expected 608x433"
  exit 1
fi
"$build/tests/window/grab-screen" "$build/corvella-window.png"
echo "screenshot: $build/corvella-window.png"
close_corvella
echo "exit code $status"
[ "$status" -eq 0 ]
