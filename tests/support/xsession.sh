# A virtual screen for the window tests, sourced by their scripts, which set
# $work (a scratch folder) and $xtool (the small X client) first, and kill
# $xvfb and $manager when they end.

# Starts Xvfb at 1024x768 and exports its DISPLAY.
start_display() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  # A loaded machine (the suite runs in parallel) can take seconds to start it.
  for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "Xvfb did not start"; exit 1; }
  DISPLAY=":$(cat "$work/display")"
  export DISPLAY
}

# Starts openbox on it, again if it does not come up (it can lose a race
# with the screen on a loaded machine).
start_openbox() {
  for _ in 1 2 3; do
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    manager=$!
    for _ in $(seq 300); do
      "$xtool" wm && break
      kill -0 "$manager" 2>/dev/null || break
      sleep 0.1
    done
    "$xtool" wm && break
    kill "$manager" 2>/dev/null || true
    manager=""
  done
  "$xtool" wm || { echo "openbox did not start:"; cat "$work/openbox.log"; exit 1; }
}
