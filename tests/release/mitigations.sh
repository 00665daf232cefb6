#!/usr/bin/env bash
# The shipped image carries every mitigation its toolchain offers: ASLR with high
# entropy, DEP, Control Flow Guard with a function table, CET shadow-stack
# compatibility and the stack protector. The stripped image names no symbol, but
# the protector's report of a smashed stack stays only where protected code calls it.
# Usage: mitigations.sh QuorlLaunch.exe
set -euo pipefail
exe=$1
headers=$(llvm-readobj --file-headers --coff-load-config --coff-debug-directory "$exe")
status=0
fail() { echo "FAIL: $exe: $*" >&2; status=1; }

for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT GUARD_CF; do
    grep -q "IMAGE_DLL_CHARACTERISTICS_$flag " <<<"$headers" || fail "no $flag"
done
count=$(sed -n 's/^ *GuardCFFunctionCount: //p' <<<"$headers")
[ "${count:-0}" -gt 0 ] || fail "no guard function table in the load configuration"
# Older llvm-readobj prints the flags as a number, newer ones as "GuardFlags [ (0x500)".
flags=$(grep -m1 "GuardFlags" <<<"$headers" | grep -o "0x[0-9A-Fa-f]*" || echo 0)
# CF_INSTRUMENTED and CF_FUNCTION_TABLE_PRESENT; no LONGJUMP_TABLE_PRESENT, since no
# setjmp of the runtime is listed in one: Windows would end the process at a longjmp.
[ $((flags & 0x10500)) -eq $((0x500)) ] || fail "guard flags $flags: want CF_INSTRUMENTED, a table and no longjmp table"
grep -q "IMAGE_DLL_CHARACTERISTICS_EX_CET_COMPAT " <<<"$headers" || fail "no CET_COMPAT"
grep -q -a -F "stack smashing detected" "$exe" || fail "no stack protector runtime"

[ "$status" -eq 0 ] && echo "OK: ASLR, DEP, CFG ($count functions), CET, stack protector"
exit "$status"
