#!/usr/bin/env bash
# Checks the shared library as it ships (ELF): it exports exactly what lupex.h declares
# LUPEX_API (the five procedures and the C API). The library keeps nothing between
# calls and carries no test seam, so it defines no writable variable of its own and no
# function of heap_hooks.h or random_hooks.h, and its code holds no atomic
# read-modify-write (a locked instruction), which the seam's counters would cost every
# allocation of every host.
# And it is bound when loaded (BIND_NOW), so that no call runs the dynamic linker's
# resolver below the stack that the exports clear. The static library that ships
# defines the same functions and carries no test seam either.
# usage: shipped_library.sh LIBRARY STATIC_LIBRARY NM OBJDUMP
set -euo pipefail
library=$1 archive=$2 nm=$3 objdump=$4
header=$(dirname "$0")/../include/lupex.h
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
for file in "$library" "$archive"; do
  [ -f "$file" ] || { echo "FAIL: $file is not built"; exit 1; }
done

declared=$(sed -nE 's/^LUPEX_API [^(]*[ *]([A-Za-z_0-9]+)\(.*/\1/p' "$header" | LC_ALL=C sort)
[ "$(wc -l <<<"$declared")" -eq 24 ] || fail "lupex.h declares $(echo $declared)"
exported=$("$nm" -D --defined-only "$library" | awk '$2 == "T" {sub(/@.*/, "", $3); print $3}' |
  LC_ALL=C sort)
[ "$exported" = "$declared" ] || fail "exports $(echo $exported)"
archived=$("$nm" --defined-only "$archive")
for name in $declared; do
  grep -qE "^[0-9a-f]+ T $name\$" <<<"$archived" || fail "$(basename "$archive") lacks $name"
done
grep -qE '(heap|random)_hooks_' <<<"$archived" && fail "$(basename "$archive") carries the test seam"

symbols=$("$nm" -C --defined-only "$library")
# Writable data (b, B, d, D): the toolchain's own start-up and unwinding symbols
# begin with an underscore or are its "completed" flag; anything else is ours.
variables=$(sed -nE 's/^[0-9a-f]+ [bBdD] //p' <<<"$symbols" |
  grep -vE '^(_|completed\.[0-9]+$)' || true)
[ -z "$variables" ] || fail "writable variables: $(tr '\n' ' ' <<<"$variables")"
seam=$(grep -E '(heap|random)_hooks_' <<<"$symbols" || true)
[ -z "$seam" ] || fail "test seam functions: $(sed -E 's/^[0-9a-f]+ . //' <<<"$seam" | tr '\n' ' ')"
locked=$("$objdump" -d --no-show-raw-insn "$library" | grep -cE '\block\b' || true)
[ "$locked" -eq 0 ] || fail "$locked locked (atomic) instructions"
headers=$("$objdump" -p "$library")
flags=$(awk '$1 == "FLAGS" { print $2 }' <<<"$headers")
flags_1=$(awk '$1 == "FLAGS_1" { print $2 }' <<<"$headers")
# DF_BIND_NOW in FLAGS, or DF_1_NOW in FLAGS_1.
(( ${flags:-0} & 0x8 || ${flags_1:-0} & 0x1 )) || fail "not bound at load (link with -z now)"

if [ "$failures" -ne 0 ]; then
  echo "$library: $failures check(s) failed"
  exit 1
fi
echo "$library: exports what lupex.h declares, no writable variables, no test seam, no atomic instructions, bound at load; $(basename "$archive") defines the same, without the seam"
