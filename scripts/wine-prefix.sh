# Sourced by the scripts: a private Wine prefix and wineserver for one run.
#
#   wine_prefix_start null   # headless: Wine's null graphics driver, no X server
#   wine_prefix_start x11    # on $DISPLAY (a real one or our own Xvfb)
#   wine_prefix_stop         # ends the server and removes the prefix
#
# The prefix lives in a fresh temporary folder, so no run sees another's
# registry, mutex or windows. It is a 64-bit prefix; with wine32 installed it
# runs 32-bit programs too. Every call into Wine here is bounded: a server
# that does not answer fails the start instead of hanging the run.
#
# The shell that starts a prefix owns it. Should that shell go without
# wine_prefix_stop (CTest ends a test at its limit with SIGKILL, which no trap
# sees), a guard outside its process tree ends the prefix's server, and with it
# every Wine process of the prefix, and removes the prefix: Wine's processes are
# not the script's children, so nothing else would end them.

# The one way the scripts start a program under Wine (see wine-exec).
HALVANE_WINE_EXEC=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-exec

# wine_run SECONDS ARGS...: a Wine command with a time limit, its output dropped.
wine_run() {
  local limit=$1
  shift
  timeout "$limit" "$HALVANE_WINE_EXEC" "$@" </dev/null >/dev/null 2>&1
}

wine_prefix_start() {
  local graphics=${1:-null}
  HALVANE_WINE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/halvane-wine.XXXXXX")
  HALVANE_WINE_KEEPER_PID=
  export WINEPREFIX="$HALVANE_WINE_DIR/prefix"
  wine_prefix_guard
  # winemenubuilder is off: it would copy every Start-menu shortcut an installer
  # makes into this machine's own desktop menus.
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # A prefix is made in 3 to 15 seconds; bound it all the same.
  if [ "$graphics" = null ]; then
    env -u DISPLAY timeout 180 wineboot -i >/dev/null 2>&1 || { echo "wine-prefix: wineboot failed" >&2; return 1; }
    wine_run 60 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f ||
      { echo "wine-prefix: cannot select the null graphics driver" >&2; return 1; }
  else
    timeout 180 wineboot -i >/dev/null 2>&1 || { echo "wine-prefix: wineboot failed" >&2; return 1; }
    # Without a window manager every show and destroy stalls; let Wine manage its windows.
    wine_run 60 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f ||
      { echo "wine-prefix: cannot set the X11 driver up" >&2; return 1; }
  fi
  # A program that crashes ends at once instead of waiting under Wine's debugger,
  # so a test sees the crash rather than a hang until its time-out. Without a
  # Debugger value Wine still starts winedbg, which can hang; a debugger that
  # cannot start lets the crash end the process. HKLM\Software has a view for
  # 64-bit and one for 32-bit programs, and each reads its own.
  local view
  for view in 64 32; do
    wine_run 60 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
      /v Debugger /d halvane-no-debugger.exe /f /reg:$view ||
      { echo "wine-prefix: cannot turn the crash debugger off" >&2; return 1; }
  done
  # Restart the server so the driver setting holds, and keep it alive for the run:
  # every later start is then fast and no test waits on a lingering server.
  timeout 30 wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  # The persistent server leaves its own process group at once; the limit only
  # bounds a start that hangs.
  timeout 30 wineserver -p || { echo "wine-prefix: wineserver did not start" >&2; return 1; }
  wine_run 60 cmd /c exit || true
  if [ "$graphics" = null ]; then
    # Wine starts its desktop process with the first window and ends it with the
    # last; a program that starts after that waits about a second for a new one.
    # One window kept open for the whole run spares every test that wait. It
    # holds none of our output pipes, and wine_prefix_stop ends it.
    wine notepad.exe </dev/null >/dev/null 2>&1 &
    HALVANE_WINE_KEEPER_PID=$!
    # The desktop process inherits the standard error of the program that made
    # it start, and this window keeps it alive for the whole run: started by a
    # test instead, it would hold that test's output open and keep CTest
    # waiting until its time-out. So nothing runs before it is up.
    local tries=0
    until wine_prefix_runs 'explorer\.exe /desktop'; do
      tries=$((tries + 1))
      [ $tries -lt 600 ] || { echo "wine-prefix: the desktop did not start" >&2; return 1; }   # 60 s
      sleep 0.1
    done
  fi
}

# The guard: polls, once a second, for the owner (its pid and its start time,
# so that a reused pid is not taken for it) and for the prefix; detached by
# setsid in a subshell that ends at once, it holds none of the owner's output.
wine_prefix_guard() {
  local owner=$BASHPID
  ( setsid bash -c "$(declare -f wine_prefix_started)"'
      owner=$1 since=$2 dir=$3
      while [ -d "$dir" ] && [ "$(wine_prefix_started "$owner")" = "$since" ]; do sleep 1; done
      [ -d "$dir" ] || exit 0
      export WINEPREFIX=$dir/prefix
      timeout 30 wineserver -k; timeout 30 wineserver -w
      rm -rf "$dir"' wine-prefix-guard "$owner" "$(wine_prefix_started "$owner")" "$HALVANE_WINE_DIR" \
      </dev/null >/dev/null 2>&1 & )
}

# wine_prefix_started PID: when the process started (in clock ticks since boot), or nothing once it is gone.
wine_prefix_started() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }

# wine_prefix_runs PATTERN: whether a process of this prefix has a command line matching PATTERN.
wine_prefix_runs() {
  local dir entry args environment
  for dir in /proc/[0-9]*; do
    mapfile -d '' -t args 2>/dev/null <"$dir/cmdline" || continue
    [[ "${args[*]}" =~ $1 ]] || continue
    mapfile -d '' -t environment 2>/dev/null <"$dir/environ" || continue
    for entry in "${environment[@]}"; do
      [ "$entry" = "WINEPREFIX=$WINEPREFIX" ] && return 0
    done
  done
  return 1
}

wine_prefix_stop() {
  [ -n "${HALVANE_WINE_DIR:-}" ] || return 0
  if [ -n "${HALVANE_WINE_KEEPER_PID:-}" ]; then
    kill "$HALVANE_WINE_KEEPER_PID" 2>/dev/null || true
    local tries=0
    while kill -0 "$HALVANE_WINE_KEEPER_PID" 2>/dev/null && [ $tries -lt 50 ]; do   # at most about 5 s
      sleep 0.1
      tries=$((tries + 1))
    done
    kill -9 "$HALVANE_WINE_KEEPER_PID" 2>/dev/null || true
    wait "$HALVANE_WINE_KEEPER_PID" 2>/dev/null || true
    HALVANE_WINE_KEEPER_PID=
  fi
  timeout 30 wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  rm -rf "$HALVANE_WINE_DIR"
  HALVANE_WINE_DIR=
}
