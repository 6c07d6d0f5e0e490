#!/usr/bin/env bash
# Builds the Windows Installer packages of this build and of a later-numbered
# one, and runs installer_test.exe on them in a private Wine prefix of its own.
#
#   installer_test.sh BIN ARCH VERSION NEXT_VERSION ICON
#
# The prefix runs in a German locale, so the Start-menu shortcut's language is
# chosen from the user's language and not merely left at English.
set -uo pipefail
bin=$1 arch=$2 version=$3 next=$4 icon=$5
repo=$(cd "$(dirname "$0")/../.." && pwd)

. "$repo/scripts/wine-prefix.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-installer.XXXXXX")
cleanup() { wine_prefix_stop; rm -rf "$work"; }
trap cleanup EXIT

for build in "$version:$bin/halvane.exe" "$next:$bin/next/halvane.exe"; do
  python3 "$repo/package/make_msi.py" --epoch 1700000000 --arch "$arch" --version "${build%%:*}" \
    --exe "${build#*:}" --icon "$icon" --out "$work/halvane-${build%%:*}.msi" || exit 1
done

wine_prefix_start null || exit 1
# Only Wine's own processes see the locale; this machine may not have it.
LC_ALL=de_DE.UTF-8 timeout 150 "$HALVANE_WINE_EXEC" "$bin/installer_test.exe" \
  "$(winepath -w "$work/halvane-$version.msi")" "$(winepath -w "$work/halvane-$next.msi")" "$version" "$next" de
