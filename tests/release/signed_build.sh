#!/usr/bin/env bash
# Fixture for the signature and package checks: a throw-away self-signed code-signing
# certificate, and a build of QuorlLaunch signed with it.
# Usage: signed_build.sh SOURCE_DIR WORK_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
source_dir=$1
work=$2

rm -rf "$work"
mkdir -p "$work/cert"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -sha256 \
    -subj "/CN=Quorl Test Signing/O=Quorl" \
    -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/cert/key.pem" -out "$work/cert/cert.pem" 2>/dev/null

configure_and_build "$source_dir" "$work/build" \
    -DQUORL_SIGN_CERT="$work/cert/cert.pem" -DQUORL_SIGN_KEY="$work/cert/key.pem"
echo "signed build: $work/build/bin/QuorlLaunch.exe"
