#!/usr/bin/env bash
# The packages the installer test installs, made into OUT (by installer_test.sh,
# and by package/tests/stage for the tests bundle):
#
#   make_packages.sh OUT BIN OTHER_ARCH_BIN ARCH VERSION NEXT_VERSION ICON
#
# current.msi, this build's package, and rebuilt.msi, the same made again (the
# same bytes); a-day-later.msi, the same files a day later; other-arch.msi, the
# other architecture's programs; same-version.msi, another build of this
# version (an exe of the same file version, PE image version 1); next.msi, the
# next version.
set -uo pipefail
out=$1 bin=$2 other_bin=$3 arch=$4 version=$5 next=$6 icon=$7
repo=$(cd "$(dirname "$0")/../.." && pwd)
other=$([ "$arch" = x64 ] && echo x86 || echo x64)
# NAME:ARCH:VERSION:EPOCH:BIN, BIN holding halvane.exe (and halvane-host.exe, or this build's is taken).
for package in "current:$arch:$version:1700000000:$bin" "rebuilt:$arch:$version:1700000000:$bin" \
               "a-day-later:$arch:$version:1700086400:$bin" "other-arch:$other:$version:1700000000:$other_bin" \
               "same-version:$arch:$version:1700000000:$bin/same" "next:$arch:$next:1700000000:$bin/next"; do
  IFS=: read -r name parch pversion epoch exes <<<"$package"
  host=$exes/halvane-host.exe
  [ -e "$host" ] || host=$bin/halvane-host.exe
  /usr/bin/python3 "$repo/package/make_msi.py" --epoch "$epoch" --arch "$parch" --version "$pversion" \
    --exe "$exes/halvane.exe" --host "$host" --icon "$icon" --out "$out/$name.msi" >/dev/null || exit 1
done
