# shellcheck shell=bash
# Sourced by the scripts that own a Wine prefix, Firefox or Xvfb: their whole
# run kept within a limit of their own, below CTest's. CTest ends a test at its
# limit with SIGKILL, which no trap sees, so what the script started outside
# its process tree would live on; ended at its own limit instead, the script
# says so and its EXIT trap cleans up as after any other failure.
#
#   time_limit_start SECONDS NAME   # after SECONDS, says so and ends this shell with TERM
#   time_limit_left                 # the seconds left (at least 1): a bound for one long step
#   time_limit_stop                 # in the EXIT trap: the watch ends with the script
#
# The TERM goes to the shell's children as well: bash runs its trap only once
# the command it waits for has ended, and that may be one bounded by minutes.

time_limit_start() {
  local owner=$BASHPID
  HALVANE_TIME_LIMIT_END=$((SECONDS + $1))
  (
    trap '[ -n "${nap:-}" ] && kill "$nap" 2>/dev/null; exit 0' TERM
    sleep "$1" >/dev/null 2>&1 &
    nap=$!
    wait "$nap" || exit 0
    trap '' TERM   # the script's children first, this watch among them, then the script
    echo "$2: ran out of its own time limit of $1 s, and ends" >&2
    pkill -TERM -P "$owner"
    kill -TERM "$owner" 2>/dev/null
  ) &
  HALVANE_TIME_LIMIT_PID=$!
}

time_limit_left() {
  local left=$(( ${HALVANE_TIME_LIMIT_END:-$((SECONDS + 86400))} - SECONDS ))
  echo $((left > 0 ? left : 1))
}

time_limit_stop() {
  [ -n "${HALVANE_TIME_LIMIT_PID:-}" ] || return 0
  kill "$HALVANE_TIME_LIMIT_PID" 2>/dev/null
  wait "$HALVANE_TIME_LIMIT_PID" 2>/dev/null
  HALVANE_TIME_LIMIT_PID=
}
