#!/usr/bin/env bash
# A Visual Studio program against an unpacked release package: tests/msvc/consumer.c,
# compiled in MSVC mode as C and as C++ (clang-cl /W4 /WX, no C runtime: see
# tests/msvc/tools.sh), linked with lld-link against win32\lupex.lib and
# win64\lupex.lib (which the program names with #pragma comment(lib)), and run beside
# each lupex.dll under Wine (32-bit Wine for the 32-bit one): all five exports, the
# README's requests and replies. The programs import from lupex.dll and KERNEL32.dll
# only.
# usage: msvc_consumer.sh PACKAGE_DIR
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

for target in win32:i686 win64:x86_64; do
  bits=${target%:*} arch=${target#*:}
  msvc_tools "$bits" "$work/$bits" || { fail "no MSVC-mode tools for $bits"; continue; }
  mkdir -p "$work/$bits/run"
  cp "$package/$bits/lupex.dll" "$work/$bits/run/"
  for language in /TC /TP; do
    program=$work/$bits/run/consumer.exe
    rm -f "$program"
    if ! (cd "$work/$bits" &&
          cl /nologo /c /W4 /WX /O2 $language "/I$package/include" /Foconsumer.obj -- "$tests/msvc/consumer.c" &&
          link /nologo consumer.obj "/libpath:$package/$bits" "/out:$program") >"$work/log" 2>&1; then
      fail "the MSVC-mode consumer ($language) does not build against $bits/lupex.lib:"
      sed 's/^/    /' "$work/log"
      continue
    fi
    imports=$("$arch-w64-mingw32-objdump" -p "$program" | awk '/DLL Name:/{print tolower($3)}' | sort -u | tr '\n' ' ')
    [ "$imports" = "kernel32.dll lupex.dll " ] || fail "the $bits MSVC-mode consumer ($language) imports $imports"
    if ! "$wine_run" "$program" >"$work/out" 2>&1; then
      fail "the $bits MSVC-mode consumer ($language) under Wine:"
      sed 's/^/    /' "$work/out"
    fi
  done
done

if [ "$failures" -ne 0 ]; then
  echo "MSVC-mode consumer: $failures check(s) failed"
  exit 1
fi
echo "MSVC-mode consumer: C and C++, linked against win32 and win64 lupex.lib, all five exports ok under Wine"
