#!/usr/bin/env bash
# Checks the export table of a built liblupex-2.dll, the C API's DLL: its names are
# exactly the lupex_ functions that lupex.h declares with LUPEX_API (read from the
# header by tests/api_names.sh, so the check follows the header), undecorated, none of the five
# procedures and no internal name; the module definition it is linked from lists the
# same; and on 32-bit x86 every export returns with a plain ret, as the C calling
# convention has the caller remove the arguments (a stdcall function would pop them).
# What it imports and the absence of TLS, windows_lean.sh checks.
# usage: windows_api_exports.sh DLL i686|x86_64 [HEADER [DEF]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dll=$1 arch=$2 header=${3:-$root/include/lupex.h}
def=${4:-$root/plugin/$(basename "$dll" .dll).def}
objdump=$arch-w64-mingw32-objdump
command -v "$objdump" >/dev/null || { echo "FAIL: $objdump is missing (run scripts/setup.sh)"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# shellcheck source=tests/api_names.sh
source "$root/tests/api_names.sh"
declared=$(lupex_api_names "$header" | tr '\n' ' ')
[ -n "$declared" ] || { echo "FAIL: no LUPEX_API lupex_ functions found in $header"; exit 1; }

headers=$("$objdump" -p "$dll")
names=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^\s*$/{exit} on{print $NF}' <<<"$headers" | LC_ALL=C sort | tr '\n' ' ')
[ "$names" = "$declared" ] || fail "exports '$names', lupex.h declares '$declared'"
grep -qE '@[0-9]+|(^| )_' <<<"$names" && fail "decorated export names"
count=$(awk '/Export Address Table -- Ordinal Base/{on=1; next} on && /^\s*$/{exit} on && /Export RVA/{n++} END{print n+0}' <<<"$headers")
[ "$count" = "$(wc -w <<<"$declared")" ] || fail "$count exported addresses for $(wc -w <<<"$declared") names"

listed=$(awk '/^EXPORTS/{on=1; next} on && NF && $1 !~ /^;/{print $1}' "$def" | LC_ALL=C sort | tr '\n' ' ')
[ "$listed" = "$declared" ] || fail "$def lists '$listed', lupex.h declares '$declared'"

if [ "$arch" = i686 ]; then
  # shellcheck source=tests/pe_returns.sh
  source "$root/tests/pe_returns.sh"
  disassembly=$("$objdump" -d --no-show-raw-insn "$dll")
  for name in $declared; do
    rets=$(pe_export_returns "$headers" "$disassembly" "$name")
    [ -n "$rets" ] || { fail "no export address for $name"; continue; }
    [ "$rets" = "ret," ] || fail "$name returns with '$rets', expected a plain 'ret'"
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "$dll: $failures export check(s) failed"
  exit 1
fi
returns=
[ "$arch" = i686 ] && returns=", each returning with a plain ret"
echo "$dll ($arch): exports the $(wc -w <<<"$declared") LUPEX_API functions of lupex.h, undecorated$returns"
