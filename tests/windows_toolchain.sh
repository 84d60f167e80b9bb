#!/usr/bin/env bash
# Builds the 32-bit lupex.dll as a user would with a plain toolchain file of their
# own, which names the processor as they like (x86, i386, AMD64, i686), and checks
# that the build took the 32-bit settings all the same: no linker warning, the DLL
# checked as a file (entry point, exports, stdcall returns, size, imports), its size
# the same as the reference DLL's when one is given, an import library with the
# stdcall names, and a C program that includes lupex.h, links it and calls the five
# exports under 32-bit Wine.
# usage: windows_toolchain.sh PROCESSOR BUILD_DIR [REFERENCE_DLL]
set -euo pipefail
processor=$1 build=$2 reference=${3:-}
root=$(cd "$(dirname "$0")/.." && pwd)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$build"
mkdir -p "$build"
build=$(cd "$build" && pwd)
cat >"$build/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $processor)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TOOLCHAIN
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$build/toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DLUPEX_BUILD_TESTS=OFF >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; echo "FAIL: configure"; exit 1; }
cmake --build "$build" -j "$(nproc)" --target lupex >"$build/build.log" 2>&1 ||
  { cat "$build/build.log"; echo "FAIL: build"; exit 1; }
dll=$build/lupex.dll
if grep -qi "warning" "$build/build.log"; then
  fail "the build warns:"; grep -i "warning" "$build/build.log"
fi

bash "$root/tests/windows_exports.sh" "$dll" i686 || fail "export checks"
bash "$root/tests/windows_lean.sh" "$dll" i686 || fail "lean DLL checks"
bytes=$(stat -c %s "$dll")
if [ -n "$reference" ]; then
  [ "$bytes" -eq "$(stat -c %s "$reference")" ] ||
    fail "$bytes bytes, the reference $reference has $(stat -c %s "$reference")"
fi

# The import library names the stdcall symbols that a 32-bit caller of lupex.h links.
names=$(i686-w64-mingw32-nm "$build/liblupex.dll.a" | awk '$2 == "T" {print $3}' | sort | tr '\n' ' ')
[ "$names" = "_LoadDll@4 _UnloadDll@4 _blowfish@24 _dllinfo@24 _md5@24 " ] ||
  fail "the import library's names are '$names'"

program=$build/consumer.exe
if i686-w64-mingw32-gcc -O2 -Wall -Wextra -Werror "$root/tests/consumer/consumer.c" \
     -I"$root/include" -L"$build" -llupex -static-libgcc -o "$program" 2>"$build/link.log"; then
  bash "$root/scripts/wine-run.sh" "$program" >"$build/consumer.out" ||
    { fail "the consumer's calls:"; cat "$build/consumer.out"; }
else
  fail "a C program calling lupex.h does not link the import library:"; cat "$build/link.log"
fi

if [ "$failures" -ne 0 ]; then
  echo "toolchain file naming the processor $processor: $failures check(s) failed"
  exit 1
fi
echo "toolchain file naming the processor $processor: $bytes bytes, entry point, stdcall import names ($names), consumer runs"
