#!/usr/bin/env bash
# Programs on the C API through liblupex-2.dll, against an unpacked release package:
# tests/consumer/api_dll_consumer.c built with MinGW-w64 against win32/ and
# win64/liblupex-2.dll.a, and in MSVC mode (clang-cl /W4 /WX as C and as C++, lld-link:
# tests/msvc/tools.sh) against liblupex-2.lib, which its #pragma names. Each must
# import every function of the C API from liblupex-2.dll (and otherwise only KERNEL32
# and, for MinGW, msvcrt), and run beside the DLL under Wine (32-bit Wine for win32):
# the request table's answers, a prepared key, refusals with nothing written.
# usage: api_dll_consumer.sh PACKAGE_DIR
set -euo pipefail
tests=$(cd "$(dirname "$0")" && pwd)
package=$(realpath "$1")
wine_run=$tests/../scripts/wine-run.sh
# shellcheck source=tests/msvc/tools.sh
source "$tests/msvc/tools.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source=$tests/consumer/api_dll_consumer.c
bash "$tests/replies_c_table.sh" "$tests/data/replies.tsv" >"$work/replies_table.h"
dll=$(cd "$package/win64" && ls liblupex-*.dll)

# Runs PROGRAM beside the DLL under Wine after checking its imports; $2 names it.
run() {
  local program=$1 what=$2 arch=$3 expected_imports=$4 imports
  imports=$("$arch-w64-mingw32-objdump" -p "$program" | awk '/DLL Name:/{print tolower($3)}' | sort -u | tr '\n' ' ')
  [ "$imports" = "$expected_imports" ] || fail "$what imports $imports"
  bash "$tests/imports_every_api_function.sh" "$program" "$dll" "$arch" \
    "$package/include/lupex.h" >"$work/out" || { fail "$what:"; sed 's/^/    /' "$work/out"; }
  "$wine_run" "$program" >"$work/out" 2>&1 || { fail "$what under Wine:"; sed 's/^/    /' "$work/out"; }
}

for target in win32:i686 win64:x86_64; do
  bits=${target%:*} arch=${target#*:}
  mkdir -p "$work/$bits/run"
  cp "$package/$bits/$dll" "$work/$bits/run/"
  program=$work/$bits/run/mingw.exe
  if "$arch-w64-mingw32-gcc" -std=c99 -O2 -Wall -Wextra -Werror -pedantic "-I$package/include" "-I$work" \
       "$source" "-L$package/$bits" -llupex-2 -o "$program" >"$work/log" 2>&1; then
    run "$program" "the $bits MinGW program" "$arch" "kernel32.dll ${dll,,} msvcrt.dll "
  else
    fail "the MinGW program does not build against $bits/liblupex-2.dll.a:"; sed 's/^/    /' "$work/log"
  fi

  msvc_tools "$bits" "$work/$bits" || { fail "no MSVC-mode tools for $bits"; continue; }
  for language in /TC /TP; do
    program=$work/$bits/run/msvc.exe
    rm -f "$program"
    if ! (cd "$work/$bits" &&
          cl /nologo /c /W4 /WX /O2 $language "/I$package/include" "/I$work" /Foconsumer.obj -- "$source" &&
          link /nologo consumer.obj "/libpath:$package/$bits" "/out:$program") >"$work/log" 2>&1; then
      fail "the MSVC-mode program ($language) does not build against $bits/liblupex-2.lib:"
      sed 's/^/    /' "$work/log"
      continue
    fi
    run "$program" "the $bits MSVC-mode program ($language)" "$arch" "kernel32.dll ${dll,,} "
  done
done

if [ "$failures" -ne 0 ]; then
  echo "C API programs through $dll: $failures check(s) failed"
  exit 1
fi
echo "C API programs through $dll: MinGW (liblupex-2.dll.a) and MSVC mode as C and C++ (liblupex-2.lib), x86 and x64, every function ok under Wine"
