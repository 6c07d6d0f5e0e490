# Sourced by the scripts: a private Wine prefix and wineserver for one run.
#
#   wine_prefix_start null   # headless: Wine's null graphics driver, no X server
#   wine_prefix_start x11    # on $DISPLAY (a real one or our own Xvfb)
#   wine_prefix_stop         # ends the server and removes the prefix
#
# The prefix lives in a fresh temporary folder, so no run sees another's
# registry, mutex or windows.

wine_prefix_start() {
  local graphics=${1:-null}
  HALVANE_WINE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/halvane-wine.XXXXXX")
  export WINEPREFIX="$HALVANE_WINE_DIR/prefix"
  # winemenubuilder is off: it would copy every Start-menu shortcut an installer
  # makes into this machine's own desktop menus.
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # A prefix is made in 3 to 15 seconds; bound it all the same.
  if [ "$graphics" = null ]; then
    env -u DISPLAY timeout 180 wineboot -i >/dev/null 2>&1 || { echo "wine-prefix: wineboot failed" >&2; return 1; }
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  else
    timeout 180 wineboot -i >/dev/null 2>&1 || { echo "wine-prefix: wineboot failed" >&2; return 1; }
    # Without a window manager every show and destroy stalls; let Wine manage its windows.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  fi
  # A program that crashes ends at once instead of waiting under Wine's debugger,
  # so a test sees the crash rather than a hang until its time-out.
  wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
  # Restart the server so the driver setting holds, and keep it alive for the run:
  # every later start is then fast and no test waits on a lingering server.
  timeout 30 wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 || true
  if [ "$graphics" = null ]; then
    # Wine starts its desktop process with the first window and ends it with the
    # last; a program that starts after that waits about a second for a new one.
    # One window kept open for the whole run spares every test that wait. It
    # lives until the server is stopped, and holds none of our output pipes.
    wine notepad.exe </dev/null >/dev/null 2>&1 &
  fi
}

wine_prefix_stop() {
  [ -n "${HALVANE_WINE_DIR:-}" ] || return 0
  timeout 30 wineserver -k 2>/dev/null || true
  timeout 30 wineserver -w 2>/dev/null || true
  rm -rf "$HALVANE_WINE_DIR"
  HALVANE_WINE_DIR=
}
