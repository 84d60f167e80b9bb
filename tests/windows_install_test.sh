#!/usr/bin/env bash
# Installs a Windows build into a throw-away prefix, as a user does with cmake
# --install, then checks what a user meets there: the installed files, the installed
# host calling the installed DLL, a C program of one's own (tests/consumer/
# consumer.c, built as C and as C++) that includes lupex.h, links the installed
# import library and calls all five exports, and one (tests/consumer/api_consumer.c)
# that calls the C API, linked against the installed static library and against
# liblupex-2.dll's import library, under Wine.
# usage: windows_install_test.sh CMAKE BUILD_DIR i686|x86_64
set -euo pipefail
cmake=$1 build=$2 arch=$3
tests=$(cd "$(dirname "$0")" && pwd)
wine_run=$tests/../scripts/wine-run.sh
for tool in "$arch-w64-mingw32-gcc" "$arch-w64-mingw32-g++" "$arch-w64-mingw32-objdump"; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (run scripts/setup.sh)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"
for f in bin/lupex.dll bin/lupex-host.exe include/lupex.h lib/liblupex.dll.a lib/lupex.def \
         lib/liblupex_static.a lib/lupex.lib bin/liblupex-2.dll lib/liblupex-2.dll.a lib/liblupex-2.lib \
         lib/cmake/lupex/lupexConfig.cmake lib/cmake/lupex/lupexTargets.cmake; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
[ "$failures" -eq 0 ] || { cat "$work/install.log"; exit 1; }

reply=$("$wine_run" "$prefix/bin/lupex-host.exe" md5 abc) || fail "installed host: exit status $?"
[ "$reply" = "+OK 900150983cd24fb0d6963f7d28e17f72" ] || fail "installed host replied '$reply'"

# The program lands beside the installed DLL, where Windows looks for it first.
for language in c c++; do
  compiler=$arch-w64-mingw32-${language/c++/g++}
  compiler=${compiler/%-c/-gcc}
  program=$prefix/bin/consumer-${language/++/xx}.exe
  # The compiler's own runtime linked in, so that the program needs only lupex.dll.
  if ! "$compiler" -x "$language" -O2 -Wall -Wextra -Werror "$tests/consumer/consumer.c" -x none \
       -I"$prefix/include" -L"$prefix/lib" -llupex -static-libgcc -static-libstdc++ \
       -o "$program" >"$work/link.log" 2>&1; then
    fail "the $language consumer does not build against the installed import library:"
    cat "$work/link.log"
    continue
  fi
  [[ "$("$arch-w64-mingw32-objdump" -p "$program")" == *"DLL Name: lupex.dll"* ]] ||
    fail "the $language consumer does not import lupex.dll"
  if ! "$wine_run" "$program" >"$work/out"; then
    fail "the $language consumer's calls:"
    cat "$work/out"
  fi
done

# The C API through the static library, which needs no DLL.
program=$prefix/api-consumer.exe
if "$arch-w64-mingw32-gcc" -O2 -Wall -Wextra -Werror "$tests/consumer/api_consumer.c" \
     -I"$prefix/include" -L"$prefix/lib" -llupex_static -static-libgcc -o "$program" \
     >"$work/link.log" 2>&1; then
  [[ "$("$arch-w64-mingw32-objdump" -p "$program")" != *"DLL Name: lupex.dll"* ]] ||
    fail "the C API consumer imports lupex.dll"
  "$wine_run" "$program" >"$work/out" || { fail "the C API consumer's calls:"; cat "$work/out"; }
else
  fail "the C API consumer does not build against the installed static library:"
  cat "$work/link.log"
fi

# The C API through the installed liblupex-2.dll, the program beside it.
program=$prefix/bin/api-dll-consumer.exe
if "$arch-w64-mingw32-gcc" -O2 -Wall -Wextra -Werror "$tests/consumer/api_consumer.c" \
     -I"$prefix/include" -L"$prefix/lib" -llupex-2 -o "$program" >"$work/link.log" 2>&1; then
  [[ "$("$arch-w64-mingw32-objdump" -p "$program")" == *"DLL Name: liblupex-2.dll"* ]] ||
    fail "the C API consumer does not import liblupex-2.dll"
  "$wine_run" "$program" >"$work/out" || { fail "the C API consumer of liblupex-2.dll:"; cat "$work/out"; }
else
  fail "the C API consumer does not build against the installed liblupex-2.dll.a:"
  cat "$work/link.log"
fi

if [ "$failures" -ne 0 ]; then
  echo "$build: $failures install check(s) failed"
  exit 1
fi
echo "install: files in place, installed host, C and C++ consumers of the import library and C API consumers of the static library and of liblupex-2.dll work ($arch)"
