#!/usr/bin/env bash
# scripts/wine-exec with a launcher that fails on purpose: a start Wine refused
# is tried again and announced, and only that; a program that leaves a process
# holding its output ends the run, said so, instead of hanging it.
set -u
wine_exec=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/wine-exec-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix HALVANE_WINE=$work/launcher HALVANE_WINE_EXEC_GRACE=1

# The launcher: refuses the first $REFUSALS starts as Wine does, then behaves as $PROGRAM says.
cat >"$HALVANE_WINE" <<'LAUNCHER'
#!/usr/bin/env bash
starts=$(( $(cat "$COUNT" 2>/dev/null || echo 0) + 1 ))
echo $starts >"$COUNT"
if [ "$starts" -le "$REFUSALS" ]; then
  printf 'Application could not be started, or no application associated with the specified file.\n' >&2
  printf 'ShellExecuteEx failed: Internal error.\r\n\n' >&2
  exit 1
fi
case $PROGRAM in
  passes) echo "[  PASSED  ] 1 test." ;;
  fails) echo "[  FAILED  ] 1 test."; echo "ShellExecuteEx failed: Internal error." >&2; exit 1 ;;
  fails-silently) echo "cannot open the key" >&2; echo "ShellExecuteEx failed: Internal error." >&2; exit 3 ;;
  leaves-a-process) echo "[  PASSED  ] 1 test."; sleep 30 & ;;
  # Wine's loader dying of a signal, after the report or before it; a crash in the program's own code
  # (Wine's exit status for 0xC0000005); and a status of 139 that no signal caused.
  passes-then-loader-dies) echo "[  PASSED  ] 1 test."; kill -SEGV $$ ;;
  loader-dies-before-the-report) echo "[ RUN      ] A.B"; kill -SEGV $$ ;;
  crashes-in-its-code) echo "[ RUN      ] A.B"; echo "wine: Unhandled page fault on read access" >&2; exit 5 ;;
  passes-then-exits-139) echo "[  PASSED  ] 1 test."; exit 139 ;;
esac
LAUNCHER
chmod +x "$HALVANE_WINE"

failures=0
# check NAME REFUSALS PROGRAM STATUS STARTS RETRY_LINES [TEXT]: one run and what it must give.
check() {
  local name=$1 status starts retries
  export COUNT=$work/count-$1 REFUSALS=$2 PROGRAM=$3
  local began=$SECONDS
  "$wine_exec" test.exe --gtest_filter=X >"$work/out-$name" 2>&1
  status=$?
  starts=$(cat "$COUNT")
  retries=$(grep -c '^launch-retry: ' "$work/out-$name")
  if [ "$status" != "$4" ] || [ "$starts" != "$5" ] || [ "$retries" != "$6" ] ||
     { [ -n "${7:-}" ] && ! grep -q "$7" "$work/out-$name"; } || [ $((SECONDS - began)) -gt 10 ]; then
    echo "FAILED $name: status $status (want $4), starts $starts (want $5), retry lines $retries (want $6)," \
         "$((SECONDS - began)) s; output:"
    sed 's/^/  | /' "$work/out-$name"
    failures=$((failures + 1))
  else
    echo "ok $name"
  fi
}

check refused-twice-then-runs 2 passes 0 3 2 'PASSED'
check refused-every-time 5 passes 1 3 2 'could not start test.exe in 3 tries'
check ran-and-failed 0 fails 1 1 0
check failed-before-any-output 0 fails-silently 3 1 0
check left-a-process-holding-its-output 0 leaves-a-process 0 1 0 '^wine-exec: left running: '
check loader-died-after-the-report-passed 0 passes-then-loader-dies 0 1 0 '^wine-loader-crash: test.exe: .*signal 11 (SIGSEGV)'
check loader-died-before-the-report 0 loader-dies-before-the-report 139 1 0 'died of signal 11 (SIGSEGV) before'
check crashed-in-its-own-code 0 crashes-in-its-code 5 1 0
check exit-139-is-no-signal 0 passes-then-exits-139 139 1 0
grep -h '^launch-retry: ' "$work/out-refused-twice-then-runs" | head -1 | sed 's/^/  | /'
grep -h '^wine-loader-crash: ' "$work/out-loader-died-after-the-report-passed" | sed 's/^/  | /'
[ $failures = 0 ]
