#!/usr/bin/env bash
# Signs a built halvane.exe and a package made from it as scripts/release
# --sign does (package/sign), with a throwaway certificate made here, and
# checks that each signature verifies against that certificate and that the
# signature is all that signing added: the signature taken from the signed
# file and attached to the unsigned one gives back the signed file, byte for
# byte.
#
#   signing_test.sh HALVANE.EXE ARCH ICON
set -uo pipefail
exe=$1 arch=$2 icon=$3
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/halvane-signing.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() { echo "signing_test: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Halvane test signer" \
  -addext extendedKeyUsage=codeSigning >/dev/null 2>&1 || fail "openssl could not make a certificate"
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.pfx -passout pass:throwaway >/dev/null 2>&1 ||
  fail "openssl could not make the .pfx"
printf 'throwaway' >password

cp "$exe" halvane.exe
/usr/bin/python3 "$repo/package/make_msi.py" --epoch 1700000000 --arch "$arch" --version 1.0.0 --exe halvane.exe \
  --host "$(dirname "$exe")/halvane-host.exe" \
  --icon "$icon" --out halvane.msi || fail "no package"
cp halvane.exe signed.exe
cp halvane.msi signed.msi
# Both roads of the password: the environment and a file.
HALVANE_SIGN_PASSWORD=throwaway "$repo/package/sign" --pfx signer.pfx signed.exe || fail "could not sign the exe"
"$repo/package/sign" --pfx signer.pfx --pass-file password signed.msi || fail "could not sign the package"

# An option given without its value gets the usage and 2, before anything is touched.
for command in "package/sign --pfx" "package/sign --pfx signer.pfx --timestamp" "scripts/release --sign" \
  "scripts/release --sign signer.pfx --pass-file"; do
  # shellcheck disable=SC2086 # the words of the command are meant to split
  "$repo"/$command >usage.log 2>&1 </dev/null
  status=$?
  [ $status = 2 ] && grep -q 'needs a value' usage.log && ! grep -q 'unbound' usage.log ||
    { cat usage.log >&2; fail "'$command' ended with $status"; }
done

for kind in exe msi; do
  osslsigncode verify -CAfile cert.pem -in "signed.$kind" >"verify-$kind.log" 2>&1 ||
    { cat "verify-$kind.log" >&2; fail "the signed $kind does not verify"; }
  grep -q 'digest algorithm *: *SHA256' "verify-$kind.log" || { cat "verify-$kind.log" >&2; fail "the $kind's digest is not SHA-256"; }
  osslsigncode extract-signature -in "signed.$kind" -out "signature-$kind" >/dev/null 2>&1 ||
    fail "no signature to extract from the $kind"
  osslsigncode attach-signature -CAfile cert.pem -sigin "signature-$kind" -in "halvane.$kind" -out "attached.$kind" \
    >/dev/null 2>&1 || fail "the $kind's signature does not fit the unsigned $kind"
  cmp -s "attached.$kind" "signed.$kind" || fail "signing changed more of the $kind than its signature"
done
echo "signing_test: both signatures verify, and they are all that signing added"
