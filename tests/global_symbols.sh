#!/usr/bin/env bash
# The names that lupex puts into a program that links it (ELF): every global symbol
# that the static library liblupex_static.a or the shared library defines is a C API
# function (lupex_*), one of the five procedures, or in namespace lupex. Any other name
# could clash with one of the program's own, or be silently replaced by it. The shared
# library's exports all carry a symbol version: LUPEX_2.0, or LUPEX_2.1 for the
# functions that 2.1.0 added.
# usage: global_symbols.sh LIBRARY STATIC_LIBRARY NM
set -euo pipefail
library=$1 archive=$2 nm=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
for file in "$library" "$archive"; do
  [ -f "$file" ] || { echo "FAIL: $file is not built"; exit 1; }
done

# Names of lupex's own. A function template's instance reads with its return type
# first ("void lupex::blocks_encrypt<1>(...)", where an unoptimised build keeps one out
# of line). The rest are the toolchain's: __x86.get_pc_thunk.* on 32-bit x86, hidden
# global functions that each object computing an address of its own carries and the
# linker merges, which never leave a linked program or library; __odr_asan.* under
# AddressSanitizer, its marker beside each global variable.
allowed='^(lupex_[A-Za-z0-9_]+|LoadDll|UnloadDll|blowfish|dllinfo|md5|([^(]+ )?lupex::.+|__x86\.get_pc_thunk\.[a-z]+|__odr_asan\.[A-Za-z0-9_.]+)$'

# Defined global symbols, demangled: "TYPE NAME" per line.
archived=$("$nm" -C -g --defined-only "$archive" | sed -nE 's/^[0-9a-f]+ (.) (.*)$/\1 \2/p')
[ -n "$archived" ] || fail "$(basename "$archive") defines no global symbol"
# An unoptimised build keeps some of the C++ library's inline templates out of line
# (std::min<unsigned long>): weak definitions (W) that the linker merges with the
# program's own copies of the same standard function, so they can neither clash nor
# replace anything of lupex's.
strays=$(grep -vE '^W ([^(]+ )?std::' <<<"$archived" | cut -d' ' -f2- | grep -vE "$allowed" || true)
[ -z "$strays" ] || fail "$(basename "$archive") defines names not its own: $(tr '\n' ';' <<<"$strays")"

# The version nodes themselves are absolute symbols (A) named LUPEX_2.0 and LUPEX_2.1
# (nm shows each with its own version, LUPEX_2.0@@LUPEX_2.0, for some linkers' output).
exported=$("$nm" -D -C --defined-only "$library" | sed -nE 's/^[0-9a-f]+ (.) (.*)$/\1 \2/p' |
  grep -vE '^A (LUPEX_2\.[01])(@@\1)?$' || true)
[ -n "$exported" ] || fail "$(basename "$library") exports nothing"
unversioned=$(cut -d' ' -f2- <<<"$exported" | grep -vE '@@LUPEX_2\.[01]$' || true)
[ -z "$unversioned" ] || fail "exports outside LUPEX_2.0 and LUPEX_2.1: $(tr '\n' ';' <<<"$unversioned")"
cbc=$(cut -d' ' -f2- <<<"$exported" | grep -E '_cbc' | grep -vE '@@LUPEX_2\.1$' || true)
[ -z "$cbc" ] || fail "the CBC functions are outside LUPEX_2.1: $(tr '\n' ';' <<<"$cbc")"
strays=$(cut -d' ' -f2- <<<"$exported" | sed -E 's/@@?[A-Z_0-9.]+$//' | grep -vE "$allowed" || true)
[ -z "$strays" ] || fail "$(basename "$library") exports names not its own: $(tr '\n' ';' <<<"$strays")"

if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "$(basename "$archive"): $(wc -l <<<"$archived") global symbols, $(basename "$library"): $(wc -l <<<"$exported") exports at LUPEX_2.0 and LUPEX_2.1; every name lupex_*, a procedure or lupex::"
