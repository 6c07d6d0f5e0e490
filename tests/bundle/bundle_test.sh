#!/usr/bin/env bash
# bundle_test.sh BUILD ARCH JUNIT: BUILD's tests bundle, unzipped outside the build, run as on Windows in a
# fresh prefix holding keys of the user's own, gives CTest's verdicts (JUNIT) and leaves the keys; then,
# halvane.exe taken out, it reports startup_test failed, ends non-zero and leaves the keys again.
set -uo pipefail
build=$(realpath -e "$1") arch=$2 junit=$(realpath -e "$3") repo=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "bundle_test ($arch): $*" >&2; exit 1; }
. "$repo/scripts/wine-prefix.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-bundle.XXXXXX")
trap 'wine_prefix_stop; rm -rf "$work"' EXIT
"$repo/package/tests/stage" "$build" "$arch" "$work/tests.zip" || fail "no bundle"
wine_prefix_start null && unzip -q "$work/tests.zip" -d "$work/unpacked" && cd "$work"/unpacked/*-"$arch" || fail "cannot unpack"

keys=('HKCU\Software\Marrowin\Quillery\Halvane' 'HKCU\Software\Mozilla\NativeMessagingHosts\org.marrowin.halvane')
wine_run 60 reg add "${keys[0]}" /v mine.example /t REG_DWORD /d 1 /f &&
  wine_run 60 reg add "${keys[1]}" /ve /d 'C:\mine\host.json' /f || fail "cannot write the user's keys"
user_keys() { for key in "${keys[@]}"; do timeout 60 "$HALVANE_WINE_EXEC" reg query "$key" /s 2>&1; done; }
before=$(user_keys)
# run NAME LIMIT ARGS...: the runner, its output shown and kept in NAME, its status returned.
run() {
  local started=$SECONDS status
  timeout "$2" "$HALVANE_WINE_EXEC" cmd /c run-tests.cmd "${@:3}" </dev/null 2>&1 | tr -d '\r' | tee "$work/$1"
  status=${PIPESTATUS[0]}
  echo "bundle_test ($arch): run-tests.cmd ${*:3} ended with $status in $((SECONDS - started)) s" && return "$status"
}
kept() { [ "$(user_keys)" = "$before" ] && [ ! -e results/saved ] || fail "the user's keys changed $1: $(user_keys)"; }

run all 900 /all || fail "run-tests.cmd /all did not pass"
tail -n 1 "$work/all" | grep -Eq '^[0-9]+ passed, 0 failed, 0 skipped$' || fail "no closing line"
kept ""
"$repo/package/tests/compare-verdicts" "$build" "$junit" results || fail "verdicts differ from CTest's"

rm bin/halvane.exe  # now startup_test cannot start it; two of its tests that wipe the key and fail at once
GTEST_FILTER='Startup.AnEmptyTail*:Startup.TwoValues*' run failing 300 startup_test && fail "run-tests.cmd ended with 0 with a program failing"
grep -q '^FAILED   startup_test' "$work/failing" && tail -n 1 "$work/failing" | grep -q '^0 passed, 1 failed, 0 skipped$' &&
  grep -q '<failure' results/startup_test.xml || fail "the failure is not reported, or results\\startup_test.xml has none"
kept "after a failure"
echo "bundle_test ($arch): passed"
