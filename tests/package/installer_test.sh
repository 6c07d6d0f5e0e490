#!/usr/bin/env bash
# Builds the packages the installer test needs (make_packages.sh), checks their
# tables and runs installer_test.exe on them in a private Wine prefix of its own
# (German, so the Start-menu shortcut's language follows the user's):
#
#   installer_test.sh BIN OTHER_ARCH_BIN ARCH VERSION NEXT_VERSION ICON
set -uo pipefail
bin=$1 other_bin=$2 arch=$3 version=$4 next=$5 icon=$6
repo=$(cd "$(dirname "$0")/../.." && pwd)

. "$repo/scripts/wine-prefix.sh"
. "$repo/scripts/time-limit.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-installer.XXXXXX")
cleanup() { time_limit_stop; wine_prefix_stop; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 143' INT TERM
# Under CTest, its limit less the clean-up's (HALVANE_TIME_LIMIT, which CMake sets with it).
[ -n "${HALVANE_TIME_LIMIT:-}" ] && time_limit_start $((HALVANE_TIME_LIMIT - 30)) installer_test

"$repo/tests/package/make_packages.sh" "$work" "$bin" "$other_bin" "$arch" "$version" "$next" "$icon" || exit 1
fail() { echo "installer_test: $*" >&2; exit 1; }
cmp "$work/current.msi" "$work/rebuilt.msi" || fail "a rebuild gave another package"
table() { msiinfo export "$work/$1.msi" "$2" | tail -n +4 | tr -d '\r'; }
for p in current other-arch; do
  [ "$(table $p File | awk -F'\t' '/\.exe\t/ { print $5 }' | sort -u)" = "$version.0" ] ||
    fail "$p: the exes' file versions"
done
# Windows refuses another package under an installed product code (error 1638; Wine lets it pass).
[ "$(for p in current a-day-later other-arch same-version next; do table $p Property | grep ^ProductCode; done |
     sort -u | wc -l)" = 5 ] || fail "two packages share a product code"
# The Upgrade rows: earlier versions, later ones (detect only), this one (both bounds inclusive);
# and the product found is removed whole before anything is installed.
code={BA6F122D-F40A-4519-8075-6952C9A171EE}
[ "$(table current Upgrade | cut -f1,2,3,5,7 | sort)" = "$(printf '%s\t%s\t%s\t%s\t%s\n' "$code" "" "$version" 1 \
   WIX_UPGRADE_DETECTED "$code" "$version" "$version" 768 HALVANE_SAME_VERSION "$code" "$version" "" 2 \
   WIX_DOWNGRADE_DETECTED | sort)" ] || { table current Upgrade >&2; fail "not the Upgrade rows expected"; }
table current InstallExecuteSequence | awk -F'\t' '{ at[$1] = $3 } END { removal = at["RemoveExistingProducts"]
  exit !(at["InstallValidate"] < removal && removal < at["InstallInitialize"]) }' ||
  fail "RemoveExistingProducts is not between InstallValidate and InstallInitialize"

wine_prefix_start null || exit 1
w() { winepath -w "$work/$1.msi"; }
# Only Wine's own processes see the locale; this machine may not have it.
LC_ALL=de_DE.UTF-8 timeout "$(time_limit_left)" "$HALVANE_WINE_EXEC" "$bin/installer_test.exe" "$(w current)" "$(w a-day-later)" \
  "$(w other-arch)" "$(w same-version)" "$(w next)" "$arch" "$version" "$next" de
