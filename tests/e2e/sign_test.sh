#!/usr/bin/env bash
# scripts/sign.sh with a release's certificate from the environment: a
# missing certificate and a wrong password fail with a message and leave the
# file unsigned (and stop scripts/release.sh before it builds); the right
# password signs, without a timestamp and with a warning when the timestamp
# server does not answer.
# Usage: sign_test.sh <a Windows program to sign a copy of>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sign=$here/../../scripts/sign.sh
source "$here/check_support.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$1" "$scratch/program.exe"
cp "$1" "$scratch/original.exe"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=sign test" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" -out "$scratch/cert.p12" \
  -passout pass:right
export VM_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/

# (what, certificate, password, words of the message)
while IFS='|' read -r what cert password words; do
  output=$(VM_SIGN_CERT=$scratch/$cert VM_SIGN_PASSWORD=$password "$sign" "$scratch/program.exe" 2>&1) &&
    code=0 || code=$?
  check "$what: fails" test "$code" -ne 0
  check "$what: says so" grep -q "$words" <<<"$output"
  check "$what: the file stays unsigned" cmp -s "$scratch/program.exe" "$scratch/original.exe"
done <<'ROWS'
a missing certificate|missing.p12|right|does not exist
a wrong password|cert.p12|wrong|does not open with VM_SIGN_PASSWORD
ROWS

output=$(VM_SIGN_CERT=$scratch/cert.p12 VM_SIGN_PASSWORD=wrong "$here/../../scripts/release.sh" 2>&1) &&
  code=0 || code=$?
built=no
grep -q "Built target" <<<"$output" && built=yes
check "release.sh with a wrong password stops before building" test "$code" -ne 0 -a "$built" = no

output=$(VM_SIGN_CERT=$scratch/cert.p12 VM_SIGN_PASSWORD=right "$sign" "$scratch/program.exe" 2>&1)
check "the right password signs" osslsigncode verify -in "$scratch/program.exe" -CAfile "$scratch/cert.pem"
check "a timestamp server that does not answer: signed without, with a warning" \
  grep -q "did not answer" <<<"$output"
summary
