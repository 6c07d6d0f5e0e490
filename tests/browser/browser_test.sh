#!/usr/bin/env bash
# End to end with a real browser: firefox-esr on a private Xvfb with a fresh profile and
# HOME, the extension loaded by web-ext, the host run under Wine in a private prefix.
#   browser_test.sh BIN     (BIN holds halvane.exe, halvane-host.exe, standin_browser.exe)
# Firefox (Linux) and Halvane (Wine) share no windows, so a stand-in browser window in the
# prefix carries the title X shows for Firefox's window and follows it when it changes.
set -uo pipefail
bin=$(cd "$1" && pwd)
repo=$(cd "$(dirname "$0")/../.." && pwd)
web_ext=$repo/tools/web-ext/node_modules/.bin/web-ext
site=127.0.0.1
# Titles hold a pin and a dash: xwininfo prints them, and bash compares them, as UTF-8.
export LC_ALL=C.UTF-8

. "$repo/scripts/wine-prefix.sh"
. "$repo/scripts/xvfb.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-browser.XXXXXX")
server_pid='' web_ext_pid='' STANDIN_PID=''
# One bound for the whole run, under CTest's, so the clean-up still runs; it holds no output.
( sleep 240 && kill -TERM $$ ) </dev/null >/dev/null 2>&1 &
watchdog_pid=$!
# until SECONDS COMMAND...: polls COMMAND every 0.2 s until it succeeds.
until_ok() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

# What is left of Firefox and the host's wrapper names $work on its command line.
leftovers_gone() { ! pgrep -f "$work/" >/dev/null; }
cleanup() {
  pkill -P "$watchdog_pid" 2>/dev/null; kill "$watchdog_pid" 2>/dev/null
  [ -n "${STANDIN_PID:-}" ] && { echo quit >&"${STANDIN[1]}"; } 2>/dev/null
  [ -n "$web_ext_pid" ] && kill "$web_ext_pid" 2>/dev/null   # web-ext ends its Firefox
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  until_ok 10 leftovers_gone || pgrep -f "$work/" | while read -r pid; do kill -9 "$pid" 2>/dev/null; done
  wine_prefix_stop   # ends every Wine process of the prefix: the stand-in, Halvane
  local pid
  for pid in "${STANDIN_PID:-}" "$web_ext_pid" "$server_pid" "$watchdog_pid"; do
    [ -n "$pid" ] && wait "$pid" 2>/dev/null
  done
  xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' INT TERM

fail() {
  echo "browser test: $*" >&2
  echo "--- what the page heard" >&2; grep -o 'GET /outcome/[^ ]*' "$work/server.log" >&2
  echo "--- web-ext log" >&2; tail -20 "$work/web-ext.log" >&2
  exit 1
}

wine_prefix_start null || exit 1
xvfb_start || exit 1

# The page and its server; each outcome the page hears is logged as a GET of outcome/NAME/REASON.
mkdir -p "$work/site" "$work/home/.mozilla/native-messaging-hosts"
cp "$repo/tests/browser/page.html" "$work/site/"
python3 -u -m http.server 0 --bind $site --directory "$work/site" >"$work/server.log" 2>&1 &
server_pid=$!
port_known() { grep -q '^Serving HTTP on .* port [0-9]' "$work/server.log"; }
until_ok 10 port_known || fail "the page server did not start"
port=$(sed -n 's/^Serving HTTP on .* port \([0-9]*\).*/\1/p' "$work/server.log")

# The host as Firefox on Linux finds it: a manifest in the HOME naming a wrapper.
cat >"$work/host.sh" <<EOF
#!/bin/sh
# Wine finds the prefix's running server through TMPDIR as well.
export WINEPREFIX='$WINEPREFIX' TMPDIR='${TMPDIR:-/tmp}' WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
exec wine '$bin/halvane-host.exe' "\$@"
EOF
chmod +x "$work/host.sh"
cat >"$work/home/.mozilla/native-messaging-hosts/org.marrowin.halvane.json" <<EOF
{"name": "org.marrowin.halvane", "description": "Halvane (browser test)", "path": "$work/host.sh",
 "type": "stdio", "allowed_extensions": ["halvane@marrowin.org"]}
EOF

# The stand-in browser, driven line by line.
coproc STANDIN { exec wine "$bin/standin_browser.exe" 2>/dev/null; }
standin() { echo "$1" >&"${STANDIN[1]}"; }
# standin_reply SECONDS: the tool's next line, or fails.
standin_reply() {
  local line
  IFS= read -r -t "$1" line <&"${STANDIN[0]}" || return 1
  reply=${line%$'\r'}
}
# halvane_ended WHEN: Halvane ends within 10 s, with 0.
halvane_ended() {
  standin "exit 10"
  standin_reply 20
  [ "$reply" = "halvane.exe exit code: 0" ] || fail "Halvane did not end $1: $reply"
}

# Firefox with a fresh profile (TMPDIR unchanged: Wine finds its server through it).
HOME=$work/home timeout 240 "$web_ext" run --source-dir "$repo/extension" --firefox /usr/bin/firefox-esr \
  --firefox-profile "$work/profile" --profile-create-if-missing --keep-profile-changes \
  --no-reload --no-input --start-url "http://$site:$port/page.html" \
  >"$work/web-ext.log" 2>&1 &
web_ext_pid=$!

# heard OUTCOME/REASON [COUNT]: the page has heard that, COUNT times (default once).
heard() { [ "$(grep -c "GET /outcome/$1 " "$work/server.log")" -ge "${2:-1}" ]; }
heard_any() { grep -q 'GET /outcome/' "$work/server.log"; }
until_ok 120 heard_any || fail "the page heard nothing from the extension"
heard kept/started || fail "the page did not hear \"kept\": $(grep -o 'outcome/[^ ]*' "$work/server.log")"

# The title of Firefox's window, as the X server has it.
firefox_title() {
  xwininfo -root -tree 2>/dev/null | sed -n 's/^ *0x[0-9a-f]* "\(.*\)": ("Navigator" .*/\1/p' | head -1
}
title=$(firefox_title)
case $title in
  $'\U1F4CC '????' Halvane browser test — '*) ;;
  *) fail "Firefox's window is titled \"$title\", without the preface" ;;
esac
standin "open MozillaWindowClass $title"
standin_reply 30 || fail "the stand-in browser does not answer"

standin "prompt 60"
standin_reply 70 || fail "no answer from the stand-in browser about the prompt"
case $reply in
  "prompt: "*"$site"*"$title"*) echo "$reply" ;;
  *) fail "the prompt does not show the site and the title: $reply" ;;
esac
standin_reply 5

standin "answer once"
standin_reply 30 && echo "$reply"
standin "raised 1 10"
standin_reply 20
case $reply in
  *"topmost=yes visible=yes") echo "kept: $reply" ;;
  *) fail "the window is not kept on top: $reply" ;;
esac

# The page lets go: the extension takes the preface away; the stand-in follows the title.
echo "1 let-go" >"$work/site/command.txt"
until_ok 30 heard released/page || fail "the page did not hear \"released\""
plain() { local t; t=$(firefox_title); [ -n "$t" ] && [ "$t" != "$title" ] && released_title=$t; }
until_ok 10 plain || fail "the window's title kept its preface"
case $released_title in
  'Halvane browser test — '*) ;;
  *) fail "after letting go the window is titled \"$released_title\"" ;;
esac
standin "title 1 $released_title"
standin_reply 10
halvane_ended "after the page let go"

# The page asks again and retitles itself while Halvane asks: the extension lets go and tells it.
echo "2 keep" >"$work/site/command.txt"
until_ok 30 heard kept/started 2 || fail "the page did not hear \"kept\" again"
standin "prompt 60"
standin_reply 70 && standin_reply 5 || fail "no answer from the stand-in browser about the second prompt"
echo "3 retitle" >"$work/site/command.txt"
until_ok 30 heard released/title || fail "the page did not hear \"released\" when it retitled itself"
retitled() { [ "$(firefox_title)" = "Halvane browser test, retitled — ${title#*— }" ]; }
until_ok 10 retitled || fail "after retitling the window is titled \"$(firefox_title)\""
standin "answer cancel"
standin_reply 30
halvane_ended "after the prompt was cancelled"
echo "browser test: passed"
