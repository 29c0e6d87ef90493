# Sourced by the scripts that draw under Xvfb.
#
# start_xvfb SCREEN (for example 1024x768x24) starts an X server on a display
# that the server picks itself (-displayfd): a number picked by the script
# could belong to another program's server on a shared machine, which would
# then be drawn on and photographed. The server writes its display number
# once it accepts connections. On success XVFB_DISPLAY holds ":N" and
# XVFB_PID the server's process id; when no server is ready within
# VYR_XVFB_WAIT seconds (10) it says why on standard error, leaves nothing
# running and returns 1.
start_xvfb() {
  local screen="$1" who="${0##*/}" limit="${VYR_XVFB_WAIT:-10}" work number="" status
  XVFB_DISPLAY=""
  XVFB_PID=""
  if ! command -v Xvfb >/dev/null 2>&1; then
    echo "$who: Xvfb is not installed (scripts/setup installs the package xvfb)" >&2
    return 1
  fi
  work="$(mktemp -d)"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$work/display" >/dev/null 2>"$work/log" &
  local pid=$!
  # Microseconds, whatever the locale's decimal sign.
  local deadline=$((${EPOCHREALTIME//[!0-9]/} + limit * 1000000))
  while :; do
    # Only a whole line: the number is complete once its newline is there.
    if [ "$(tail -c 1 "$work/display" 2>/dev/null)" = "" ] && grep -qx '[0-9][0-9]*' "$work/display" 2>/dev/null; then
      number="$(head -n 1 "$work/display")"
      break
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" 2>/dev/null && status=0 || status=$?
      echo "$who: Xvfb did not start (it ended with status $status):" >&2
      sed 's/^/  /' "$work/log" | tail -n 5 >&2
      rm -rf "$work"
      return 1
    fi
    if [ "${EPOCHREALTIME//[!0-9]/}" -ge "$deadline" ]; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      echo "$who: Xvfb did not report a display within ${limit} s; stopped it" >&2
      sed 's/^/  /' "$work/log" | tail -n 5 >&2
      rm -rf "$work"
      return 1
    fi
    sleep 0.1
  done
  rm -rf "$work"
  XVFB_DISPLAY=":$number"
  XVFB_PID=$pid
}
