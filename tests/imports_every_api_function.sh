#!/usr/bin/env bash
# Checks that a Windows program built against liblupex-2.dll's import library calls
# the C API through the DLL: it imports from that DLL every lupex_ function that
# lupex.h declares with LUPEX_API, and nothing else. A program that took any of them
# from the library's objects instead would not import it.
# usage: imports_every_api_function.sh PROGRAM.exe DLL_NAME i686|x86_64 [HEADER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$1 dll=$2 arch=$3 header=${4:-$root/include/lupex.h}
objdump=$arch-w64-mingw32-objdump
command -v "$objdump" >/dev/null || { echo "FAIL: $objdump is missing (run scripts/setup.sh)"; exit 1; }
# shellcheck source=tests/api_names.sh
source "$root/tests/api_names.sh"
declared=$(lupex_api_names "$header" | tr '\n' ' ')
# "DLL Name: X" opens each DLL's list; its lines are "<hint-table rva> <hint> <name>".
imported=$("$objdump" -p "$program" | awk -v d="$dll" '
  /DLL Name:/ {on = tolower($3) == tolower(d); next}
  on && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ {print $3}
  /^$/ {on = 0}' | LC_ALL=C sort | tr '\n' ' ')
extra=$(comm -23 <(tr ' ' '\n' <<<"$imported" | grep .) <(tr ' ' '\n' <<<"$declared" | grep .) | tr '\n' ' ')
missing=$(comm -13 <(tr ' ' '\n' <<<"$imported" | grep .) <(tr ' ' '\n' <<<"$declared" | grep .) | tr '\n' ' ')
if [ -n "$extra" ]; then
  echo "FAIL: $program imports from $dll what lupex.h does not declare: $extra"
  exit 1
fi
if [ -n "$missing" ]; then
  echo "FAIL: $program does not import from $dll: $missing"
  exit 1
fi
echo "$program: imports $(wc -w <<<"$imported") of the $(wc -w <<<"$declared") C API functions from $dll"
