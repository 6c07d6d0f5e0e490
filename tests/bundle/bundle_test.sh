#!/usr/bin/env bash
# bundle_test.sh BUILD ARCH JUNIT: BUILD's tests bundle, unzipped outside the build into a folder whose path holds
# a space, parentheses, !, & and letters outside the ANSI code page, run as on Windows in a fresh prefix holding
# keys of the user's own, with GTEST_FILTER set to run nothing (the runner clears it for each program):
# - /all with one program taken out fails naming it; with that program run alone after, every test gets CTest's
#   verdict (JUNIT), and the user's keys are left as they were;
# - a run stopped while its program runs, with a second run refused meanwhile, then started again: the keys
#   come back as they were; in that run a program that never ends is ended at its limit, and the run goes on to
#   one that fails (halvane.exe taken out) and reports it;
# - a saved copy of the keys that cannot be put back is kept, and the run fails; an empty bin\ fails.
# Under Wine this cannot show Windows' own reg.exe (its export format, its errors) nor a translated Windows
# (the runner reads no command's translated output: bundle_helper checks the version and the running Halvane,
# where it used ver and find); Wine's cmd differs from Windows' (docs/testing-on-windows.md).
set -uo pipefail
build=$(realpath -e "$1") arch=$2 junit=$(realpath -e "$3") repo=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "bundle_test ($arch): $*" >&2; exit 1; }
. "$repo/scripts/wine-prefix.sh"
. "$repo/scripts/time-limit.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-bundle.XXXXXX")
trap 'time_limit_stop; wine_prefix_stop; rm -rf "$work"' EXIT
trap 'exit 143' INT TERM
# scripts/test holds it to a limit (HALVANE_TIME_LIMIT): it keeps within it, less the clean-up's.
[ -n "${HALVANE_TIME_LIMIT:-}" ] && time_limit_start $((HALVANE_TIME_LIMIT - 30)) "bundle_test ($arch)"
"$repo/package/tests/stage" "$build" "$arch" "$work/tests.zip" || fail "no bundle"
folder="$work/Tests ($arch) & more! Ünï テスト"
wine_prefix_start null && mkdir -p "$folder" && unzip -q "$work/tests.zip" -d "$folder" && cd "$folder"/*-"$arch" ||
  fail "cannot unpack"

keys=('HKCU\Software\Marrowin\Quillery\Halvane' 'HKCU\Software\Mozilla\NativeMessagingHosts\org.marrowin.halvane')
wine_run 60 reg add "${keys[0]}" /v mine.example /t REG_DWORD /d 1 /f &&
  wine_run 60 reg add "${keys[1]}" /ve /d 'C:\mine\host.json' /f || fail "cannot write the user's keys"
user_keys() { for key in "${keys[@]}"; do timeout 60 "$HALVANE_WINE_EXEC" reg query "$key" /s 2>&1; done; }
before=$(user_keys)
# run NAME LIMIT ARGS...: the runner, its output shown and kept in NAME, its status returned.
run() {
  local started=$SECONDS status
  GTEST_FILTER=-* timeout "$2" "$HALVANE_WINE_EXEC" cmd /c run-tests.cmd "${@:3}" </dev/null 2>&1 | tr -d '\r' |
    tee "$work/$1"
  status=${PIPESTATUS[0]}
  echo "bundle_test ($arch): run-tests.cmd ${*:3} ended with $status in $((SECONDS - started)) s" && return "$status"
}
says() { grep -Eq "$2" "$work/$1" || fail "run-tests.cmd did not say /$2/"; }
kept() { [ "$(user_keys)" = "$before" ] && [ ! -e "$saved" ] || fail "the user's keys changed $1: $(user_keys)"; }
saved=$(winepath -u "$("$HALVANE_WINE_EXEC" cmd /c echo %LOCALAPPDATA% | tr -d '\r')")/Halvane\ tests/saved

mv bin/resources_test.exe "$work/"
run all 900 /all && fail "run-tests.cmd /all ended with 0 without resources_test"
says all '^FAILED   resources_test: there is no bin\\resources_test\.exe$' && says all '^[0-9]+ passed, 1 failed, 0 skipped$'
cp -r results "$work/results" && mv "$work/resources_test.exe" bin/ && run alone 300 resources_test ||
  fail "resources_test did not pass alone"
cp results/resources_test.xml "$work/results/" && kept ""
"$repo/package/tests/compare-verdicts" "$build" "$junit" "$work/results" || fail "verdicts differ from CTest's"

cp "$build/bin/never_ends.exe" bin/keeper_test.exe && rm bin/halvane.exe
run stopped 300 keeper_test &
for tries in {1..150}; do wine_prefix_runs 'keeper_test\.exe' && break; sleep 0.2; done
wine_prefix_runs 'keeper_test\.exe' || fail "keeper_test did not start"
run refused 60 resources_test; [ $? = 2 ] && says refused 'another run of the tests is running' || fail "a second run ran"
wine_run 60 reg add "${keys[0]}" /v test.example /t REG_DWORD /d 0 /f && wine_run 60 reg delete "${keys[1]}" /f ||
  fail "cannot change the keys as a test would"
for process in /proc/[0-9]*; do  # the cmd that runs it, ended as Task Manager ends it
  { tr '\0' ' ' <"$process/cmdline"; } 2>/dev/null | grep -q 'cmd\.exe /c run-tests\.cmd keeper_test' &&
    grep -qz "^WINEPREFIX=$WINEPREFIX\$" "$process/environ" 2>/dev/null && kill -9 "${process#/proc/}"
done
wait $!
for tries in {1..50}; do wine_prefix_runs 'keeper_test\.exe' || break; sleep 0.2; done
wine_prefix_runs 'keeper_test\.exe' && fail "the stopped run's program still runs"
run restarted 300 /limit 10 keeper_test resources_test && fail "run-tests.cmd ended with 0 with programs failing"
says restarted '^run-tests: a run that was stopped left its lock' &&
  says restarted '^run-tests: putting back the registry keys a stopped run saved' &&
  says restarted '^FAILED   keeper_test: ran past its limit of 10 s and was ended' &&
  says restarted '^FAILED   resources_test \(exit code 1\): [0-9]+ of [0-9]+ cases failed' &&
  says restarted '^0 passed, 2 failed, 0 skipped$' && grep -q '<failure' results/resources_test.xml ||
  fail "results\\resources_test.xml has no failure"
kept "after a stopped run"

mkdir -p "$saved" && echo "not a registry file" >"$saved/1.reg" && touch "$saved/complete"
run unrestorable 60 resources_test; [ $? = 2 ] || fail "the run went on with keys it could not put back"
says unrestorable '^run-tests: cannot put back HKCU\\Software\\Marrowin\\Quillery\\Halvane: it is saved in .*\\saved\\1\.reg$'
[ -e "$saved/1.reg" ] && [ -e "$saved/complete" ] || fail "the saved copy was not kept"
rm -rf bin/* && run empty 60 && fail "run-tests.cmd ended with 0 with an empty bin"
says empty 'bin\\bundle_helper\.exe is missing'
echo "bundle_test ($arch): passed"
