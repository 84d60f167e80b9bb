#!/usr/bin/env bash
# Checks a built lupex.dll as a file: its export table (names, ordinals, no
# decoration), the DLLs it imports (Windows system DLLs only) and, for the 32-bit
# DLL, that every export removes its own arguments (stdcall: ret 0x18 for the
# procedures, ret 0x4 for the hooks).
# usage: windows_exports.sh DLL i686|x86_64
set -euo pipefail
dll=$1 arch=$2
objdump=$arch-w64-mingw32-objdump
command -v "$objdump" >/dev/null || { echo "FAIL: $objdump is missing (run scripts/setup.sh)"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

headers=$("$objdump" -p "$dll")

# Export table: "[Ordinal/Name Pointer] Table" lists "[   n] name" in name order;
# the export address table gives the ordinals.
names=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^\s*$/{exit} on{print $NF}' <<<"$headers" | tr '\n' ' ')
[ "$names" = "LoadDll UnloadDll blowfish dllinfo md5 " ] || fail "export names are '$names'"
base=$(awk '/^Ordinal Base/{print $NF}' <<<"$headers")
[ "$base" = 1 ] || fail "ordinal base is '$base'"
count=$(awk '/Export Address Table -- Ordinal Base/{on=1; next} on && /^\s*$/{exit} on && /Export RVA/{n++} END{print n+0}' <<<"$headers")
[ "$count" = 5 ] || fail "$count exported addresses, expected 5"
# Ordinal n must belong to the n-th name: the ordinal table maps names to slots.
ordinals=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^\s*$/{exit} on{gsub(/[\[\]]/,""); print $1}' <<<"$headers" | tr '\n' ' ')
[ "$ordinals" = "0 1 2 3 4 " ] || [ "$ordinals" = "1 2 3 4 5 " ] || fail "name-to-ordinal slots are '$ordinals'"
grep -qE '@[0-9]+' <<<"$names" && fail "decorated export names"

# Imports: Windows system DLLs only, no compiler runtime DLLs.
imports=$(awk '/DLL Name:/{print $3}' <<<"$headers" | sort -u | tr '\n' ' ')
for d in $imports; do
  case "${d,,}" in
    kernel32.dll|user32.dll|msvcrt.dll|ntdll.dll|advapi32.dll) ;;
    *) fail "imports $d" ;;
  esac
done

if [ "$arch" = i686 ]; then
  # The DLL ships stripped: tests/pe_returns.sh follows each export's code from its
  # address in the export table to its returns.
  # shellcheck source=tests/pe_returns.sh
  source "$(dirname "$0")/pe_returns.sh"
  disassembly=$("$objdump" -d --no-show-raw-insn "$dll")
  for entry in LoadDll:0x4 UnloadDll:0x4 blowfish:0x18 dllinfo:0x18 md5:0x18; do
    IFS=: read -r name pop <<<"$entry"
    rets=$(pe_export_returns "$headers" "$disassembly" "$name")
    [ -n "$rets" ] || { fail "no export address for $name"; continue; }
    [ "$rets" = "ret \$$pop," ] || fail "$name returns with '$rets', expected 'ret \$$pop'"
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "$dll: $failures export check(s) failed"
  exit 1
fi
echo "$dll ($arch): exports LoadDll UnloadDll blowfish dllinfo md5 at ordinals 1-5, imports ${imports}ok"
