#!/usr/bin/env bash
# Builds the Windows Installer packages the installer test needs and runs
# installer_test.exe on them in a private Wine prefix of its own:
#
#   installer_test.sh BIN OTHER_ARCH_BIN ARCH VERSION NEXT_VERSION ICON
#
# this build's package; the same built a day later (another commit time, the
# same files); the other architecture's programs of the same version; another
# build of the same version (an exe of equal file version, other bytes); and
# the later version. Building this build's package twice must give the same
# bytes.
#
# The prefix runs in a German locale, so the Start-menu shortcut's language is
# chosen from the user's language and not merely left at English.
set -uo pipefail
bin=$1 other_bin=$2 arch=$3 version=$4 next=$5 icon=$6
repo=$(cd "$(dirname "$0")/../.." && pwd)
other=$([ "$arch" = x64 ] && echo x86 || echo x64)

. "$repo/scripts/wine-prefix.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-installer.XXXXXX")
cleanup() { wine_prefix_stop; rm -rf "$work"; }
trap cleanup EXIT

# NAME:ARCH:VERSION:EPOCH:BIN for each package, BIN holding its halvane.exe (and its
# halvane-host.exe, or this build's is taken).
for package in "current:$arch:$version:1700000000:$bin" "rebuilt:$arch:$version:1700000000:$bin" \
               "a-day-later:$arch:$version:1700086400:$bin" "other-arch:$other:$version:1700000000:$other_bin" \
               "same-version:$arch:$version:1700000000:$bin/same" "next:$arch:$next:1700000000:$bin/next"; do
  IFS=: read -r name parch pversion epoch exes <<<"$package"
  host=$exes/halvane-host.exe
  [ -e "$host" ] || host=$bin/halvane-host.exe
  /usr/bin/python3 "$repo/package/make_msi.py" --epoch "$epoch" --arch "$parch" --version "$pversion" \
    --exe "$exes/halvane.exe" --host "$host" --icon "$icon" --out "$work/$name.msi" >/dev/null || exit 1
done
cmp "$work/current.msi" "$work/rebuilt.msi" || { echo "installer_test: a rebuild gave another package" >&2; exit 1; }

wine_prefix_start null || exit 1
w() { winepath -w "$work/$1.msi"; }
# Only Wine's own processes see the locale; this machine may not have it.
LC_ALL=de_DE.UTF-8 timeout 280 "$HALVANE_WINE_EXEC" "$bin/installer_test.exe" "$(w current)" "$(w a-day-later)" \
  "$(w other-arch)" "$(w same-version)" "$(w next)" "$arch" "$version" "$next" de
