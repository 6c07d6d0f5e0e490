#!/usr/bin/env bash
# Builds the Windows Installer packages the installer test needs and runs
# installer_test.exe on them in a private Wine prefix of its own:
#
#   installer_test.sh BIN ARCH VERSION NEXT_VERSION ICON
#
# this build's package; the same for the other architecture (holding this
# build's exe: only its upgrade rules matter here); another package of the
# same version (holding the later-numbered exe); and the later version.
# Building this build's package twice must give the same bytes.
#
# The prefix runs in a German locale, so the Start-menu shortcut's language is
# chosen from the user's language and not merely left at English.
set -uo pipefail
bin=$1 arch=$2 version=$3 next=$4 icon=$5
repo=$(cd "$(dirname "$0")/../.." && pwd)
other=$([ "$arch" = x64 ] && echo x86 || echo x64)

. "$repo/scripts/wine-prefix.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-installer.XXXXXX")
cleanup() { wine_prefix_stop; rm -rf "$work"; }
trap cleanup EXIT

# NAME:ARCH:VERSION:EXE for each package.
for package in "current:$arch:$version:$bin/halvane.exe" "rebuilt:$arch:$version:$bin/halvane.exe" \
               "other-arch:$other:$version:$bin/halvane.exe" "same-version:$arch:$version:$bin/next/halvane.exe" \
               "next:$arch:$next:$bin/next/halvane.exe"; do
  IFS=: read -r name parch pversion exe <<<"$package"
  /usr/bin/python3 "$repo/package/make_msi.py" --epoch 1700000000 --arch "$parch" --version "$pversion" \
    --exe "$exe" --host "$bin/halvane-host.exe" --icon "$icon" --out "$work/$name.msi" || exit 1
done
cmp "$work/current.msi" "$work/rebuilt.msi" || { echo "installer_test: a rebuild gave another package" >&2; exit 1; }

wine_prefix_start null || exit 1
w() { winepath -w "$work/$1.msi"; }
# Only Wine's own processes see the locale; this machine may not have it.
LC_ALL=de_DE.UTF-8 timeout 280 "$HALVANE_WINE_EXEC" "$bin/installer_test.exe" "$(w current)" "$(w other-arch)" \
  "$(w same-version)" "$(w next)" "$arch" "$version" "$next" de
