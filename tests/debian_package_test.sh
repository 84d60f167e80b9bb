#!/usr/bin/env bash
# Checks the Debian package as a user meets it: its control fields and file list, then
# its contents unpacked into a throw-away root (no dpkg -i on this machine): the host
# there calling the library there, and C programs built with pkg-config's flags
# against the unpacked tree, calling the procedures and the C API.
# usage: debian_package_test.sh DEB
set -euo pipefail
deb=$(realpath "$1")
tests=$(cd "$(dirname "$0")" && pwd)
for tool in dpkg-deb pkg-config cc; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (run scripts/setup.sh)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ "$(dpkg-deb -f "$deb" Package)" = lupex ] || fail "package name is '$(dpkg-deb -f "$deb" Package)'"
depends=$(dpkg-deb -f "$deb" Depends)
[[ "$depends" == *libc6* ]] || fail "Depends is '$depends'"
files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./||')
for f in usr/lib/liblupex.so.2 usr/lib/liblupex.so usr/lib/liblupex_static.a usr/include/lupex.h usr/bin/lupex-host \
         usr/lib/pkgconfig/lupex.pc usr/lib/cmake/lupex/lupexConfig.cmake \
         usr/lib/cmake/lupex/lupexTargets.cmake usr/share/doc/lupex/copyright \
         usr/share/doc/lupex/LICENSE usr/share/doc/lupex/README.md; do
  grep -qx "$f" <<<"$files" || fail "the package lacks $f"
done
grep -q 'Copyright: 2026 the lupex authors' <(dpkg-deb --fsys-tarfile "$deb" |
  tar -xO ./usr/share/doc/lupex/copyright) || fail "copyright names no copyright holder"

root=$work/root
dpkg-deb -x "$deb" "$root"
reply=$("$root/usr/bin/lupex-host" md5 abc)
[ "$reply" = "+OK 900150983cd24fb0d6963f7d28e17f72" ] || fail "the unpacked host replied '$reply'"

export PKG_CONFIG_PATH=$root/usr/lib/pkgconfig
[ "$(pkg-config --modversion lupex)" = "$(dpkg-deb -f "$deb" Version)" ] ||
  fail "pkg-config gives version $(pkg-config --modversion lupex)"
# The procedures and the C API.
for program in pkgconfig_consumer api_consumer; do
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Wextra -Werror "$tests/consumer/$program.c" \
    $(pkg-config --cflags --libs lupex) -o "$work/$program" || fail "$program.c does not build"
  LD_LIBRARY_PATH=$root/usr/lib "$work/$program" >"$work/out" || { fail "$program failed:"; cat "$work/out"; }
done

if [ "$failures" -ne 0 ]; then
  echo "$(basename "$deb"): $failures check(s) failed"
  exit 1
fi
echo "$(basename "$deb"): control fields, files, the unpacked host and pkg-config C consumers ok"
