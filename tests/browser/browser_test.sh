#!/usr/bin/env bash
# End to end with a real browser: firefox-esr on a private Xvfb with a fresh profile and
# HOME, the extension installed as a temporary add-on, the host run under Wine in a
# private prefix. browser_test.py holds the rows; this sets up and tears down around it.
#   browser_test.sh BIN [SCRIPT]   (BIN holds halvane.exe, halvane-host.exe, standin_browser.exe;
#                                   SCRIPT, the browser benchmark say, runs in place of the rows)
set -uo pipefail
bin=$(cd "$1" && pwd)
repo=$(cd "$(dirname "$0")/../.." && pwd)
script=$(realpath "${2:-$repo/tests/browser/browser_test.py}")
# Titles hold a pin and a dash: xprop and xdotool print them as UTF-8.
export LC_ALL=C.UTF-8

. "$repo/scripts/wine-prefix.sh"
. "$repo/scripts/xvfb.sh"
. "$repo/scripts/time-limit.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-browser.XXXXXX")
test_pid=
cleanup() {
  time_limit_stop
  [ -n "$test_pid" ] && kill "$test_pid" 2>/dev/null && wait "$test_pid" 2>/dev/null
  # Firefox and the host's wrapper name $work on their command lines.
  pkill -f "$work/" 2>/dev/null; sleep 0.5; pkill -9 -f "$work/" 2>/dev/null
  wine_prefix_stop   # ends every Wine process of the prefix: the stand-in, the host, Halvane
  xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' INT TERM
# Under CTest, its limit less the clean-up's (HALVANE_TIME_LIMIT, which CMake sets with it).
[ -n "${HALVANE_TIME_LIMIT:-}" ] && time_limit_start $((HALVANE_TIME_LIMIT - 30)) browser_test

wine_prefix_start null || exit 1
xvfb_start || exit 1

# The host as Firefox on Linux finds it: a manifest in the HOME naming a wrapper.
# A 64-bit host goes straight to Wine's 64-bit loader: Debian's `wine`, with wine32
# installed, would hand it to a second process first, one more start (about
# 150 ms here) on every request that Firefox on Windows does not pay.
loader=wine
offset=$(od -An -tu4 -j60 -N4 "$bin/halvane-host.exe" 2>/dev/null)
[ -n "$offset" ] && [ "$(od -An -tx2 -j$((offset + 4)) -N2 "$bin/halvane-host.exe" | tr -d ' ')" = 8664 ] &&
  [ -x /usr/lib/wine/wine64 ] && loader=/usr/lib/wine/wine64
mkdir -p "$work/home/.mozilla/native-messaging-hosts"
cat >"$work/host.sh" <<EOS
#!/bin/sh
# Wine finds the prefix's running server through TMPDIR as well.
export WINEPREFIX='$WINEPREFIX' TMPDIR='${TMPDIR:-/tmp}' WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
exec '$loader' '$bin/halvane-host.exe' "\$@"
EOS
chmod +x "$work/host.sh"
cat >"$work/home/.mozilla/native-messaging-hosts/org.marrowin.halvane.json" <<EOS
{"name": "org.marrowin.halvane", "description": "Halvane (browser test)", "path": "$work/host.sh",
 "type": "stdio", "allowed_extensions": ["halvane@marrowin.org"]}
EOS
# The browser benchmark's floor: its bare host, for its bare extension (bench/floor-extension).
sed "s/halvane-host\.exe/halvane_bench_floor_host.exe/" "$work/host.sh" >"$work/floor-host.sh"
chmod +x "$work/floor-host.sh"
cat >"$work/home/.mozilla/native-messaging-hosts/org.marrowin.halvane_floor.json" <<EOS
{"name": "org.marrowin.halvane_floor", "description": "Halvane's benchmark floor", "path": "$work/floor-host.sh",
 "type": "stdio", "allowed_extensions": ["halvane-floor@marrowin.org"]}
EOS

# Bound by what is left of the script's own limit, so that Firefox's log is still shown.
HALVANE_REPO=$repo HALVANE_WORK=$work HALVANE_ROWS=${HALVANE_ROWS:-} \
  timeout $((rows_limit = $(time_limit_left) > 430 ? 420 : $(time_limit_left) - 10)) python3 -u "$script" "$bin" &
test_pid=$!
wait "$test_pid"
status=$?
test_pid=
[ $status = 124 ] && echo "browser_test: the rows ran past their limit of $rows_limit s" >&2
[ $status -ne 0 ] && { echo "--- Firefox's log"; tail -20 "$work/firefox.log"; } >&2
exit $status
