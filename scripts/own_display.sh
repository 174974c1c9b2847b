# Sourced by the scripts that show windows: start_own_display starts an
# Xvfb of the script's own on a display number nothing uses, exports
# DISPLAY and sets xvfb_pid (the caller's trap ends it). FIRST names the
# first number to try, so that the suite, the demo and the benchmarks keep
# apart when they run side by side.
start_own_display() {  # FIRST
  local n
  for n in $(seq "$1" $(( $1 + 40 ))); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      export DISPLAY=:$n
      # Ready once a client gets an answer (or the server gave up: it took
      # the number from under another's lock file, say).
      for _ in $(seq 100); do
        xdpyinfo >/dev/null 2>&1 && return 0
        kill -0 $xvfb_pid 2>/dev/null || break
        sleep 0.1
      done
      kill $xvfb_pid 2>/dev/null
    fi
  done
  echo "no free display from :$1 on" >&2
  return 1
}
