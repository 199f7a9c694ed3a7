# Sourced by the Xvfb tests: a scratch folder, a private X server on a free
# display, and helpers to start the program, find its window and close it.
# Expects $1 to be the build folder; sets build, work, DISPLAY and app.
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

# Starts the program in the current folder and sets `window` to its window.
start_corvella() {
  "$build/src/app/corvella" 2>"$work/stderr" &
  app=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Corvella v1.07$' | head -n 1)
  [ -n "$window" ] || { echo "no window titled Corvella v1.07"; exit 1; }
  sleep 0.5
}

# Asks the window to close, again if a request goes astray on the way, and
# sets `status` to the program's exit code.
close_corvella() {
  for _ in $(seq 20); do
    "$build/tests/window/close-window" "$window" 2>/dev/null || true
    sleep 0.5
    kill -0 "$app" 2>/dev/null || break
  done
  status=0
  wait "$app" || status=$?
  app=""
}
