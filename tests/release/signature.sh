#!/usr/bin/env bash
# The signed build verifies against its certificate, and so does a byte-for-byte copy
# (the loader copy the launcher makes of itself); a copy with one changed byte does not.
# Usage: signature.sh WORK_DIR (made by signed_build.sh)
set -euo pipefail
work=$1
cert="$work/cert/cert.pem"
exe="$work/build/bin/QuorlLaunch.exe"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quorl-sign.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# verify FILE: succeeds when osslsigncode accepts the signature, chained to our cert.
verify() {
    local out
    # The self-signed certificate is its own root: name it as the trusted CA.
    out=$(osslsigncode verify -CAfile "$cert" -in "$1" 2>&1) || { echo "$out"; return 1; }
    echo "$out"
    grep -q "Signature verification: ok" <<<"$out" &&
        grep -q "CN=Quorl Test Signing" <<<"$out"
}

status=0
if ! verify "$exe" >"$scratch/exe.log"; then
    echo "FAIL: the signed build does not verify:" >&2
    cat "$scratch/exe.log" >&2
    status=1
fi

cp "$exe" "$scratch/QuorlLoader.exe"
cmp "$exe" "$scratch/QuorlLoader.exe"
if ! verify "$scratch/QuorlLoader.exe" >"$scratch/copy.log"; then
    echo "FAIL: the byte-for-byte copy does not verify:" >&2
    cat "$scratch/copy.log" >&2
    status=1
fi

# Proves the check above hashes the image rather than just finding a signature.
cp "$exe" "$scratch/tampered.exe"
printf '\xcc' | dd of="$scratch/tampered.exe" bs=1 seek=$((0x1000)) conv=notrunc status=none
if verify "$scratch/tampered.exe" >/dev/null 2>&1; then
    echo "FAIL: a copy with a changed byte still verifies" >&2
    status=1
fi

[ "$status" -eq 0 ] && echo "OK: signed, copy verifies, tampered copy rejected"
exit "$status"
