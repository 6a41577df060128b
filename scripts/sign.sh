#!/usr/bin/env bash
# Signs Windows files in place with Authenticode (SHA-256, osslsigncode).
#   scripts/sign.sh --check    says which certificate signs, and fails when
#                              the one asked for does not open
#   scripts/sign.sh FILE...    signs each file
# A release names its certificate in the environment:
#   VM_SIGN_CERT            a PKCS#12 file (.pfx, .p12) with the key
#   VM_SIGN_PASSWORD        its password (may be empty)
#   VM_SIGN_TIMESTAMP_URL   an RFC 3161 timestamp server (default below;
#                           "none" for no timestamp)
# A timestamp keeps a signature valid after the certificate expires; when the
# server does not answer, the file is signed without one, with a warning.
# Without VM_SIGN_CERT the files are signed with a development certificate,
# made once under build/release/signing/ and never committed, without a
# timestamp: Windows accepts it only in test-signing mode (README, Install).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
signing=$root/build/release/signing
dev_cert=$signing/development-cert.pem
dev_key=$signing/development-key.pem
default_timestamp=http://timestamp.digicert.com

fail() {
  echo "sign.sh: $*" >&2
  exit 1
}

password_file=
cleanup() { [ -z "$password_file" ] || rm -f "$password_file"; }
trap cleanup EXIT

# The certificate's options for osslsigncode in `credentials`.
use_certificate() {
  if [ -n "${VM_SIGN_CERT:-}" ]; then
    [ -f "$VM_SIGN_CERT" ] || fail "the signing certificate VM_SIGN_CERT=$VM_SIGN_CERT does not exist"
    password_file=$(mktemp)
    printf '%s' "${VM_SIGN_PASSWORD:-}" >"$password_file"
    if ! openssl pkcs12 -in "$VM_SIGN_CERT" -passin "file:$password_file" -noout 2>/dev/null &&
      ! openssl pkcs12 -legacy -in "$VM_SIGN_CERT" -passin "file:$password_file" -noout 2>/dev/null; then
      fail "the signing certificate $VM_SIGN_CERT does not open with VM_SIGN_PASSWORD" \
        "(a wrong password, or not a PKCS#12 file); nothing was signed"
    fi
    credentials=(-pkcs12 "$VM_SIGN_CERT" -readpass "$password_file")
    timestamp=${VM_SIGN_TIMESTAMP_URL:-$default_timestamp}
    what="the certificate $VM_SIGN_CERT"
  else
    if [ ! -f "$dev_key" ] || [ ! -f "$dev_cert" ]; then
      mkdir -p "$signing"
      (umask 077 && openssl req -x509 -newkey rsa:3072 -sha256 -nodes -days 730 \
        -subj "/O=Kestrane/CN=Velmorcrypt development signing (not for release)" \
        -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
        -keyout "$dev_key" -out "$dev_cert" 2>/dev/null) || fail "could not make a development certificate"
    fi
    credentials=(-certs "$dev_cert" -key "$dev_key")
    timestamp=${VM_SIGN_TIMESTAMP_URL:-none}
    what="a DEVELOPMENT certificate made at build time ($dev_cert; no VM_SIGN_CERT given):
Windows accepts these files only in test-signing mode"
  fi
}

sign_file() {
  local file=$1
  local signed=$file.signing
  rm -f "$signed"
  local common=(sign "${credentials[@]}" -h sha256 -n "Velmorcrypt Vozeri" -in "$file" -out "$signed")
  if [ "$timestamp" != none ]; then
    if timeout 120 osslsigncode "${common[@]}" -ts "$timestamp" >/dev/null 2>&1; then
      mv "$signed" "$file"
      return
    fi
    echo "sign.sh: warning: the timestamp server $timestamp did not answer; $file is signed without a timestamp" >&2
    rm -f "$signed"
  fi
  osslsigncode "${common[@]}" >/dev/null || {
    rm -f "$signed"
    fail "signing $file failed"
  }
  mv "$signed" "$file"
}

[ $# -gt 0 ] || fail "usage: sign.sh --check | FILE..."
use_certificate
if [ "$1" = --check ]; then
  echo "Signing with $what."
  exit 0
fi
for file in "$@"; do
  sign_file "$file"
done
