#!/usr/bin/env bash
# Installs a native build into a throw-away prefix, as a user does with cmake --install,
# then checks what a user meets there: the installed files, the installed host finding
# the installed library, programs of one's own (tests/consumer) that find the package
# with find_package(lupex) and link lupex::lupex (the procedures and the C API) or
# lupex::lupex_static (the C API, and nothing of the shared library), and C programs
# built with pkg-config's flags.
# usage: install_test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1 build=$2
consumer=$(cd "$(dirname "$0")/consumer" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

# A sanitized build installs instrumented libraries: the programs built against them
# here take the same instrumentation, as their runtime is what the libraries call.
flags=$(sed -n 's/^CMAKE_CXX_FLAGS:STRING=//p' "$build/CMakeCache.txt")

# The library folder as configured: lib, or lib/<multiarch> for a /usr prefix (Debian).
lib=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
lib=${lib:-lib}

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"
missing=0
for f in bin/lupex-host include/lupex.h $lib/liblupex.so $lib/liblupex_static.a \
         $lib/cmake/lupex/lupexConfig.cmake \
         $lib/cmake/lupex/lupexConfigVersion.cmake $lib/cmake/lupex/lupexTargets.cmake \
         $lib/cmake/lupex/lupexHostTargets.cmake share/man/man1/lupex-host.1 \
         $lib/pkgconfig/lupex.pc share/doc/lupex/LICENSE share/doc/lupex/README.md \
         share/doc/lupex/CHANGELOG.md; do
  [ -e "$prefix/$f" ] || { echo "FAIL: $f is not installed"; missing=1; }
done
[ $missing -eq 0 ] || { cat "$work/install.log"; exit 1; }

reply=$("$prefix/bin/lupex-host" md5 abc)
[ "$reply" = "+OK 900150983cd24fb0d6963f7d28e17f72" ] || { echo "FAIL: installed host replied '$reply'"; exit 1; }

"$cmake" -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
"$cmake" --build "$work/consumer" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
"$work/consumer/lupex_consumer"
"$work/consumer/lupex_api_consumer"
"$work/consumer/lupex_api_consumer_static"
for program in lupex_own_names_c lupex_own_names_cpp; do
  "$work/consumer/$program" && "$work/consumer/${program}_static"
done
if ldd "$work/consumer/lupex_api_consumer_static" | grep -q liblupex; then
  echo "FAIL: the program linked against lupex::lupex_static loads liblupex.so"
  exit 1
fi

# A status dropped on the floor is a warning: here an error, so the build must fail.
printf '%s\n' '#include <lupex.h>' \
  'int main(void) { char digest[LUPEX_MD5_SIZE]; lupex_md5("", 0, digest); return 0; }' \
  >"$work/dropped.c"
if cc -std=c99 -Werror=unused-result -I"$prefix/include" -c "$work/dropped.c" -o "$work/dropped.o" 2>/dev/null; then
  echo "FAIL: a dropped status of lupex_md5 compiles without a warning"
  exit 1
fi

# The same tree through pkg-config, from C programs.
# shellcheck disable=SC2046,SC2086
for program in pkgconfig_consumer api_consumer; do
  cc -std=c99 -Wall -Wextra -Werror $flags "$consumer/$program.c" \
    $(PKG_CONFIG_PATH=$prefix/$lib/pkgconfig pkg-config --cflags --libs lupex) -o "$work/$program"
  LD_LIBRARY_PATH=$prefix/$lib "$work/$program"
done
echo "install: files in place, installed host, find_package(lupex) consumers of the shared and static libraries and pkg-config consumers work"
