#!/usr/bin/env bash
# Installs a native build into a throw-away prefix, as a user does with cmake --install,
# then checks what a user meets there: the installed files, the installed host finding
# the installed library, a program of one's own (tests/consumer) that finds the
# package with find_package(lupex), links lupex::lupex and checks its replies, and a C
# program built with pkg-config's flags.
# usage: install_test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1 build=$2
consumer=$(cd "$(dirname "$0")/consumer" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log"
missing=0
for f in bin/lupex-host include/lupex.h lib/liblupex.so lib/cmake/lupex/lupexConfig.cmake \
         lib/cmake/lupex/lupexConfigVersion.cmake lib/cmake/lupex/lupexTargets.cmake \
         lib/pkgconfig/lupex.pc share/doc/lupex/LICENSE share/doc/lupex/README.md \
         share/doc/lupex/CHANGELOG.md; do
  [ -e "$prefix/$f" ] || { echo "FAIL: $f is not installed"; missing=1; }
done
[ $missing -eq 0 ] || { cat "$work/install.log"; exit 1; }

reply=$("$prefix/bin/lupex-host" md5 abc)
[ "$reply" = "+OK 900150983cd24fb0d6963f7d28e17f72" ] || { echo "FAIL: installed host replied '$reply'"; exit 1; }

"$cmake" -S "$consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
"$cmake" --build "$work/consumer" >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
"$work/consumer/lupex_consumer"

# The same tree through pkg-config, from a C program.
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror "$consumer/pkgconfig_consumer.c" \
  $(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs lupex) -o "$work/c_consumer"
LD_LIBRARY_PATH=$prefix/lib "$work/c_consumer"
echo "install: files in place, installed host, a find_package(lupex) and a pkg-config consumer work"
