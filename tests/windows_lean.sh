#!/usr/bin/env bash
# Checks that a built lupex.dll, or the C API's liblupex-2.dll, carries the library and
# nothing else, as it ships:
# stripped and within its size, no TLS directory (whose callbacks would run on every
# thread the host starts), an entry point of its own, and imports of only the
# functions the library's code calls. With the debug file beside the DLL (the build
# tree), also that no static constructor waits for a C runtime start-up that is not
# linked.
# usage: windows_lean.sh DLL i686|x86_64
set -euo pipefail
dll=$1 arch=$2
objdump=$arch-w64-mingw32-objdump nm=$arch-w64-mingw32-nm
for tool in "$objdump" "$nm"; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (run scripts/setup.sh)"; exit 1; }
done
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The functions the library's code calls: the process heap, the random source
# (RtlGenRandom, exported as SystemFunction036) and the C library's memory and string
# functions. Anything else came from a runtime the DLL should not carry.
allowed_imports='KERNEL32.dll!GetProcessHeap KERNEL32.dll!HeapAlloc KERNEL32.dll!HeapFree
KERNEL32.dll!HeapSize ADVAPI32.dll!SystemFunction036 msvcrt.dll!memcpy msvcrt.dll!memset
msvcrt.dll!strcmp msvcrt.dll!strlen'
case $arch in
  i686) max_bytes=43520 pointer_bytes=4 ;;
  x86_64) max_bytes=49152 pointer_bytes=8 ;;
  *) echo "FAIL: unknown architecture $arch"; exit 1 ;;
esac
case ${dll##*/} in
  lupex.dll) ;;
  # The C API's checks look for a zero byte in a text to encrypt.
  liblupex-*.dll) allowed_imports+=' msvcrt.dll!memchr' ;;
  *) echo "FAIL: $dll is neither lupex.dll nor liblupex-N.dll"; exit 1 ;;
esac

headers=$("$objdump" -p "$dll")

bytes=$(stat -c %s "$dll")
[ "$bytes" -le "$max_bytes" ] || fail "$bytes bytes, more than $max_bytes"
[ -z "$("$nm" "$dll" 2>/dev/null)" ] || fail "not stripped: it has a symbol table"

# Data directory entry 9: the TLS directory's address and size, both zero when absent.
tls=$(awk '/Thread Storage Directory/{print $3, $4}' <<<"$headers")
[[ "$tls" =~ ^0+\ 0+$ ]] || fail "has a TLS directory ($tls)"

# Which function the entry point is, the debug file tells below.
entry=$(awk '/^AddressOfEntryPoint/{print $2}' <<<"$headers")
[ $((16#$entry)) -ne 0 ] || fail "no entry point"

# "DLL Name: X" opens each DLL's list; its lines are "<hint-table rva> <hint> <name>".
imports=$(awk '/DLL Name:/{dll=$3; next} dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/{print dll "!" $3} /^$/{if (dll != "") dll=""}' <<<"$headers" | sort)
[ -n "$imports" ] || fail "no imports found"
for import in $imports; do
  grep -qxF "$import" <<<"$(tr ' ' '\n' <<<"$allowed_imports")" ||
    fail "imports $import, which the library's code does not call"
done
# Every imported DLL must have shown its functions (an import by ordinal would not).
for d in $(awk '/DLL Name:/{print $3}' <<<"$headers"); do
  grep -q "^$d!" <<<"$imports" || fail "imports from $d that this check cannot read"
done

debug=$dll.debug
if [ -f "$debug" ]; then
  symbols=$("$nm" "$debug")
  address() { awk -v s="$1" '$3 == s {print $1; exit}' <<<"$symbols"; }
  # The linker brackets the constructor list with -1 and 0: nothing between them.
  ctors=$(address ___CTOR_LIST__) dtors=$(address ___DTOR_LIST__)
  if [ -z "$ctors" ] || [ -z "$dtors" ]; then
    fail "$debug has no constructor list symbols"
  elif [ $((16#$dtors - 16#$ctors)) -ne $((2 * pointer_bytes)) ]; then
    fail "static constructors ($((16#$dtors - 16#$ctors)) bytes of constructor list), and no start-up code to run them"
  fi
  own_entry=$(awk '$3 ~ /^_?lupex_library_entry(@12)?$/ {print $1; exit}' <<<"$symbols")
  image_base=$(awk '/^ImageBase/{print $2}' <<<"$headers")
  [ -n "$own_entry" ] && [ $((16#$own_entry)) -eq $((16#$image_base + 16#$entry)) ] ||
    fail "the entry point is not lupex_library_entry"
fi

if [ "$failures" -ne 0 ]; then
  echo "$dll: $failures lean DLL check(s) failed"
  exit 1
fi
echo "$dll ($arch): $bytes bytes stripped (at most $max_bytes), no TLS directory, imports $(echo $imports)"
