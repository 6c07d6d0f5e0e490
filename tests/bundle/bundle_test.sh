#!/usr/bin/env bash
# The tests bundle as a Windows user runs it, after CTest has run the same
# build's suite:
#
#   bundle_test.sh BUILD ARCH JUNIT
#
# packs BUILD's tests (package/tests/stage), unzips them outside the build, and
# runs "cmd /c run-tests.cmd /all" in a fresh prefix holding keys of the
# user's own. Every Windows-side test must get the verdict CTest gave it in
# JUNIT (ctest --output-junit), the runner must end with 0 and its closing
# line, and the user's keys must be as they were. Then, with halvane.exe taken
# out, startup_test must be reported failed and the run end non-zero, the keys
# still the user's.
set -uo pipefail
build=$(realpath -e "$1") arch=$2 junit=$(realpath -e "$3")
repo=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "bundle_test ($arch): $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
. "$repo/scripts/wine-prefix.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-bundle.XXXXXX")
trap 'wine_prefix_stop; rm -rf "$work"' EXIT
"$repo/package/tests/stage" "$build" "$arch" "$work/tests.zip" || fail "no bundle"
echo "bundle_test ($arch): halvane-$version-tests-$arch.zip, $(stat -c %s "$work/tests.zip") bytes"
wine_prefix_start null || fail "no Wine prefix"
unzip -q "$work/tests.zip" -d "$work/unpacked" && cd "$work/unpacked/halvane-$version-tests-$arch" || fail "cannot unpack"

keys=('HKCU\Software\Marrowin\Quillery\Halvane' 'HKCU\Software\Mozilla\NativeMessagingHosts\org.marrowin.halvane')
wine_run 60 reg add "${keys[0]}" /v mine.example /t REG_DWORD /d 1 /f &&
  wine_run 60 reg add "${keys[1]}" /ve /d 'C:\mine\host.json' /f || fail "cannot write the user's keys"
user_keys() { local key; for key in "${keys[@]}"; do timeout 60 "$HALVANE_WINE_EXEC" reg query "$key" /s; done 2>&1; }
before=$(user_keys)

# run NAME LIMIT ARGS...: the runner, its output shown and kept in NAME.
run() {
  local name=$1 limit=$2 started=$SECONDS status
  shift 2
  timeout "$limit" "$HALVANE_WINE_EXEC" cmd /c run-tests.cmd "$@" </dev/null 2>&1 | tr -d '\r' | tee "$work/$name"
  status=${PIPESTATUS[0]}
  echo "bundle_test ($arch): run-tests.cmd $* ended with $status in $((SECONDS - started)) s"
  return "$status"
}

run all 900 /all || fail "run-tests.cmd /all did not pass"
tail -n 1 "$work/all" | grep -Eq '^[0-9]+ passed, 0 failed, 0 skipped$' || fail "no closing line"
[ "$(user_keys)" = "$before" ] || fail "the user's keys changed: $(user_keys)"
[ ! -e results/saved ] || fail "results\\saved is left"
/usr/bin/python3 - "$junit" "$build" results <<'EOF' || fail "verdicts differ from CTest's"
import glob, os, re, sys, xml.etree.ElementTree as ET
junit, build, results = sys.argv[1:]
plain = lambda name: name.split("  # ")[0]  # without the parameter CTest's names show

def verdict(case, skipped):
    return "failed" if case.find("failure") is not None else "skipped" if skipped else "passed"

ctest = {plain(c.get("name")): "failed" if c.get("status") == "fail" else verdict(c, c.get("status") != "run")
         for c in ET.parse(junit).iter("testcase")}
# CTest's Windows-side tests: every discovered case, by its program, and each
# whole program CTest runs through a script (its REQUIRED_FILES).
program, whole = {}, set()
for path in glob.glob(build + "/tests/*/*_tests.cmake"):
    for name, exe in re.findall(r"add_test\(\[=\[(.*?)\]=\]\s+\S+\s+(\S+)\.exe", open(path).read()):
        program[plain(name)] = os.path.basename(exe)
for path in glob.glob(build + "/tests/*/CTestTestfile.cmake"):
    for name, exe in re.findall(r'set_tests_properties\(\[=\[(.*?)\]=\].*?REQUIRED_FILES "(\S+)\.exe"', open(path).read()):
        program[name] = os.path.basename(exe)
        whole.add(name)
bundle = {os.path.basename(path)[:-4]: {c.get("classname") + "." + c.get("name"): verdict(c, c.get("result") == "skipped")
                                        for c in ET.parse(path).iter("testcase")}
          for path in glob.glob(results + "/*.xml")}
differ = []
for name, exe in sorted(program.items()):
    cases = bundle.get(exe, {})
    got = ("failed" if "failed" in cases.values() else "passed" if cases else "no report") if name in whole \
        else cases.pop(name, "not run")
    if got != ctest.get(name, "not run"):
        differ.append("%s (%s): CTest %s, the bundle %s" % (name, exe, ctest.get(name, "not run"), got))
differ += ["%s (%s): run by the bundle only" % (name, exe) for exe, cases in bundle.items()
           if exe not in [program[w] for w in whole] for name in cases]
print("\n".join(differ) or "bundle_test: the %d Windows-side tests have CTest's verdicts" % len(program))
sys.exit(1 if differ else 0)
EOF

# One program failing: without halvane.exe, startup_test cannot start it.
rm bin/halvane.exe
run failing 300 startup_test && fail "run-tests.cmd ended with 0 with a program failing"
grep -q '^FAILED   startup_test' "$work/failing" || fail "the failed program is not named"
tail -n 1 "$work/failing" | grep -q '^0 passed, 1 failed, 0 skipped$' || fail "the closing line does not count the failure"
grep -q '<failure' results/startup_test.xml || fail "no report of the failures in results\\startup_test.xml"
[ "$(user_keys)" = "$before" ] || fail "the user's keys changed after a failure: $(user_keys)"
echo "bundle_test ($arch): passed"
