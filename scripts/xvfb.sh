# shellcheck shell=bash
# Sourced by the scripts: a private virtual X screen for one run.
#
#   xvfb_start [GEOMETRY]   # starts Xvfb (default 1024x768x24) and exports DISPLAY
#   xvfb_stop               # ends that Xvfb and restores the caller's DISPLAY
#
# Xvfb picks a free display number itself (-displayfd) and reports it only once
# it accepts connections, so two runs on one machine never collide and nothing
# is drawn before the screen is up.

xvfb_start() {
  local geometry=${1:-1024x768x24}
  if ! command -v Xvfb >/dev/null 2>&1; then
    echo "xvfb: Xvfb is not installed (scripts/setup installs it)" >&2
    return 1
  fi
  HALVANE_XVFB_DIR=$(mktemp -d "${TMPDIR:-/tmp}/halvane-xvfb.XXXXXX")
  HALVANE_XVFB_OLD_DISPLAY=${DISPLAY-}
  HALVANE_XVFB_OLD_DISPLAY_SET=${DISPLAY+set}
  # The number arrives through a file; -nolisten tcp keeps the screen local.
  : >"$HALVANE_XVFB_DIR/display"
  Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp -noreset \
    3>"$HALVANE_XVFB_DIR/display" >"$HALVANE_XVFB_DIR/log" 2>&1 &
  HALVANE_XVFB_PID=$!
  local tries=0 number=
  while [ $tries -lt 100 ]; do                  # at most about 10 s
    number=$(tr -dc '0-9' <"$HALVANE_XVFB_DIR/display" 2>/dev/null)
    [ -n "$number" ] && break
    if ! kill -0 "$HALVANE_XVFB_PID" 2>/dev/null; then
      echo "xvfb: Xvfb ended at start:" >&2
      cat "$HALVANE_XVFB_DIR/log" >&2
      xvfb_stop
      return 1
    fi
    sleep 0.1
    tries=$((tries + 1))
  done
  if [ -z "$number" ]; then
    echo "xvfb: Xvfb did not come up within 10 s" >&2
    xvfb_stop
    return 1
  fi
  export DISPLAY=":$number"
}

xvfb_stop() {
  [ -n "${HALVANE_XVFB_PID:-}" ] || return 0
  if kill -0 "$HALVANE_XVFB_PID" 2>/dev/null; then
    kill "$HALVANE_XVFB_PID" 2>/dev/null
    local tries=0
    while kill -0 "$HALVANE_XVFB_PID" 2>/dev/null && [ $tries -lt 50 ]; do
      sleep 0.1
      tries=$((tries + 1))
    done
    kill -9 "$HALVANE_XVFB_PID" 2>/dev/null || true
  fi
  wait "$HALVANE_XVFB_PID" 2>/dev/null || true
  rm -rf "$HALVANE_XVFB_DIR"
  if [ "$HALVANE_XVFB_OLD_DISPLAY_SET" = set ]; then
    export DISPLAY=$HALVANE_XVFB_OLD_DISPLAY
  else
    unset DISPLAY
  fi
  HALVANE_XVFB_PID='' HALVANE_XVFB_DIR=''
}
