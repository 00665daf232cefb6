#!/usr/bin/env bash
# Fixture for the signature tests, run on the host: signs copies of the launcher and
# of the fake installer with throw-away certificates into BIN_DIR/signed, where the
# tests under Wine find them. The keys live only while this script runs.
#   sign_programs.sh BIN_DIR
#     QuorlLaunch.exe         signed by "Quorl Test Publisher", issued by a test CA
#     setup-same.exe          signed with the launcher's certificate
#     setup-second.exe        a second certificate of the same subject from the same CA
#     setup-colleague.exe     another subject from the same CA
#     setup-renewed.exe       a new key and self-signed certificate, the same subject
#     setup-other.exe         another subject, self-signed
#     setup-changed.exe       setup-same.exe with one byte changed after signing
set -euo pipefail
bin=$1
out=$bin/signed
keys=$(mktemp -d "${TMPDIR:-/tmp}/quorl-keys.XXXXXX")
trap 'rm -rf "$keys"' EXIT
rm -rf "$out"
mkdir -p "$out"

# make_certificate NAME SUBJECT: a self-signed code-signing certificate and its key.
make_certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -sha256 -subj "$2" \
        -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
        -keyout "$keys/$1.key" -out "$keys/$1.pem" 2>/dev/null
}

# issue_certificate NAME SUBJECT: a code-signing certificate from the test CA, in a
# file that also holds the CA's, so that the signature carries the whole chain.
issue_certificate() {
    openssl req -new -newkey rsa:2048 -nodes -subj "$2" -keyout "$keys/$1.key" \
        -out "$keys/$1.csr" 2>/dev/null
    openssl x509 -req -in "$keys/$1.csr" -CA "$keys/ca.pem" -CAkey "$keys/ca.key" \
        -set_serial "0x$(openssl rand -hex 8)" -days 2 -sha256 -out "$keys/$1.pem" \
        -extfile <(printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n') \
        2>/dev/null
    cat "$keys/ca.pem" >>"$keys/$1.pem"
}

# sign CERTIFICATE IN OUT
sign() {
    osslsigncode sign -certs "$keys/$1.pem" -key "$keys/$1.key" -h sha256 -in "$2" -out "$3" \
        >/dev/null
}

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -sha256 -subj "/CN=Quorl Test CA/O=Quorl" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
    -keyout "$keys/ca.key" -out "$keys/ca.pem" 2>/dev/null
issue_certificate publisher "/CN=Quorl Test Publisher/O=Quorl"
issue_certificate second "/CN=Quorl Test Publisher/O=Quorl"
issue_certificate colleague "/CN=Someone Else/O=Elsewhere"
make_certificate renewed "/CN=Quorl Test Publisher/O=Quorl"
make_certificate other "/CN=Someone Else/O=Elsewhere"

sign publisher "$bin/QuorlLaunch.exe" "$out/QuorlLaunch.exe"
sign publisher "$bin/fake_setup.exe" "$out/setup-same.exe"
sign second "$bin/fake_setup.exe" "$out/setup-second.exe"
sign colleague "$bin/fake_setup.exe" "$out/setup-colleague.exe"
sign renewed "$bin/fake_setup.exe" "$out/setup-renewed.exe"
sign other "$bin/fake_setup.exe" "$out/setup-other.exe"
# The "T" of the DOS stub's text: hashed by the signature, never executed.
cp "$out/setup-same.exe" "$out/setup-changed.exe"
printf 't' | dd of="$out/setup-changed.exe" bs=1 seek=$((0x4e)) conv=notrunc status=none
cmp -s "$out/setup-same.exe" "$out/setup-changed.exe" && { echo "no byte changed" >&2; exit 1; }
echo "signed programs in $out"
