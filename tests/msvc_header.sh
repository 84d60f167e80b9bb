#!/usr/bin/env bash
# lupex.h as a Visual Studio program meets it: compiled in MSVC mode with clang-cl
# /W4 /WX, as C and as C++, for 32-bit and 64-bit Windows, with and without
# LUPEX_API_ONLY, included twice (its guard). Reads INCLUDE_DIR/lupex.h (default: the
# sources' include/).
# usage: msvc_header.sh [INCLUDE_DIR]
set -euo pipefail
tests=$(cd "$(dirname "$0")" && pwd)
include=$(realpath "${1:-$tests/../include}")
# shellcheck source=tests/msvc/tools.sh
source "$tests/msvc/tools.sh"
clang_cl=$(msvc_find clang-cl clang-cl-14)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#include <lupex.h>\n#include <lupex.h>\n' >"$work/header.c"
failures=0 checked=0
for triple in i686-pc-windows-msvc x86_64-pc-windows-msvc; do
  for language in /TC /TP; do
    for defines in '' /DLUPEX_API_ONLY; do
      checked=$((checked + 1))
      # /X: no INCLUDE from the environment; only the compiler's own headers and lupex.h.
      if ! "$clang_cl" "--target=$triple" /nologo /X /W4 /WX /Zs $language $defines \
           "/I$include" -- "$work/header.c" >"$work/log" 2>&1; then
        echo "FAIL: lupex.h, clang-cl --target=$triple /W4 /WX $language $defines:"
        sed 's/^/    /' "$work/log"
        failures=$((failures + 1))
      fi
    done
  done
done
if [ "$failures" -ne 0 ]; then
  echo "lupex.h in MSVC mode: $failures of $checked compilations failed"
  exit 1
fi
echo "lupex.h in MSVC mode: $checked compilations clean (/W4 /WX; C and C++; x86 and x64)"
