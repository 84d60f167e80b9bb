#!/usr/bin/env bash
# Checks the Debian packages as a user and a packager meet them: lintian without an
# error or a warning; the control fields (names, Multi-Arch, the host's dependency
# on the runtime package by name, a Maintainer with an address, the symbols file
# and the ldconfig trigger); which files each package holds; the manual page
# against the host's --help. Then their contents unpacked into throw-away roots (no
# dpkg -i on this machine): the runtime and host packages alone run the host; the
# runtime and -dev packages alone serve C programs built with pkg-config's flags and
# a CMake project with find_package(lupex); the runtime and Python packages alone
# serve Debian's python3 the module, with the library's answers.
# usage: debian_package_test.sh LIBLUPEX_DEB LIBLUPEX_DEV_DEB LUPEX_HOST_DEB PYTHON3_LUPEX_DEB
# (any order)
set -euo pipefail
tests=$(cd "$(dirname "$0")" && pwd)
for tool in dpkg-deb dpkg-architecture pkg-config cc cmake lintian; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (run scripts/setup.sh)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

declare -A deb
for file in "$@"; do
  deb[$(dpkg-deb -f "$file" Package)]=$(realpath "$file")
done
for package in liblupex2 liblupex-dev lupex-host python3-lupex; do
  [ -n "${deb[$package]:-}" ] || { echo "FAIL: no $package package among $*"; exit 1; }
done
[ $# = 4 ] || fail "$# packages given, expected the four"
version=$(dpkg-deb -f "${deb[liblupex2]}" Version)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=usr/lib/$multiarch

# lintian: no error, no warning (overrides only in debian/*.lintian-overrides, each
# with its reason).
lintian --fail-on error,warning "${deb[@]}" >"$work/lintian" 2>&1 ||
  { fail "lintian:"; sed 's/^/    /' "$work/lintian"; }

field() { dpkg-deb -f "${deb[$1]}" "$2"; }
for package in liblupex2 liblupex-dev lupex-host python3-lupex; do
  [[ "$(field $package Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] ||
    fail "$package: Maintainer '$(field $package Maintainer)' has no name and address"
  [ "$(field $package Version)" = "$version" ] || fail "$package: version $(field $package Version)"
done
[ "$(field liblupex2 Multi-Arch)" = same ] || fail "liblupex2: Multi-Arch '$(field liblupex2 Multi-Arch)'"
[ "$(field liblupex-dev Multi-Arch)" = same ] || fail "liblupex-dev: Multi-Arch '$(field liblupex-dev Multi-Arch)'"
for package in liblupex-dev lupex-host; do
  [[ ", $(field $package Depends)," == *", liblupex2 (= $version),"* ]] ||
    fail "$package: Depends '$(field $package Depends)' lacks liblupex2 (= $version)"
done
[ "$(field python3-lupex Architecture)" = all ] || fail "python3-lupex: Architecture '$(field python3-lupex Architecture)'"
[[ ", $(field python3-lupex Depends)," == *", liblupex2 (>= $version),"* && "$(field python3-lupex Depends)" == *python3* ]] ||
  fail "python3-lupex: Depends '$(field python3-lupex Depends)' lacks liblupex2 (>= $version) or python3"
[[ "$(field liblupex2 Depends)" == *libc6* ]] || fail "liblupex2: Depends '$(field liblupex2 Depends)'"
# A program built against the library depends on liblupex2 through the symbols file;
# ldconfig runs through the trigger.
dpkg-deb --ctrl-tarfile "${deb[liblupex2]}" | tar -x -C "$work" ./symbols ./triggers ./shlibs 2>/dev/null || true
[ -f "$work/symbols" ] && grep -q '^liblupex.so.2 liblupex2 ' "$work/symbols" &&
  grep -q '^ lupex_encrypt@LUPEX_2.0 ' "$work/symbols" || fail "liblupex2 has no symbols file for liblupex.so.2"
[ -f "$work/triggers" ] && grep -q 'ldconfig' "$work/triggers" || fail "liblupex2 has no ldconfig trigger"

# Each package's files (documentation aside).
files() { dpkg-deb -c "${deb[$1]}" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | grep -v '^usr/share/doc/' | LC_ALL=C sort; }
expect_files() {
  local package=$1 expected
  expected=$(printf '%s\n' "${@:2}" | LC_ALL=C sort)
  [ "$(files "$package")" = "$expected" ] || fail "$package holds: $(echo $(files "$package"))"
  [[ "$(dpkg-deb -c "${deb[$package]}")" == *"usr/share/doc/$package/copyright"* ]] || fail "$package has no copyright file"
}
expect_files liblupex2 "$lib/liblupex.so.2" "$lib/liblupex.so.$version"
expect_files liblupex-dev usr/include/lupex.h "$lib/liblupex.so" "$lib/liblupex_static.a" \
  "$lib/pkgconfig/lupex.pc" "$lib/cmake/lupex/lupexConfig.cmake" "$lib/cmake/lupex/lupexConfigVersion.cmake" \
  "$lib/cmake/lupex/lupexTargets.cmake" "$lib/cmake/lupex/lupexTargets-release.cmake"
expect_files python3-lupex usr/lib/python3/dist-packages/lupex/__init__.py \
  usr/lib/python3/dist-packages/lupex/py.typed
expect_files lupex-host usr/bin/lupex-host usr/share/man/man1/lupex-host.1.gz \
  "$lib/cmake/lupex/lupexHostTargets.cmake" "$lib/cmake/lupex/lupexHostTargets-release.cmake"
[[ "$(dpkg-deb --fsys-tarfile "${deb[liblupex2]}" | tar -xO ./usr/share/doc/liblupex2/copyright)" == \
   *'Copyright: 2026 the lupex authors'* ]] || fail "copyright names no copyright holder"

# The runtime and host packages alone: the host finds the library by its SONAME.
host_root=$work/host-root
for package in liblupex2 lupex-host; do dpkg-deb -x "${deb[$package]}" "$host_root"; done
reply=$("$host_root/usr/bin/lupex-host" md5 abc 2>&1) || true
[ "$reply" = "+OK 900150983cd24fb0d6963f7d28e17f72" ] || fail "the unpacked host replied '$reply'"
[ "$("$host_root/usr/bin/lupex-host" --version)" = "lupex-host $version" ] || fail "lupex-host --version"

# The manual page says what --help says, and fits 80 columns.
bash "$tests/manpage_test.sh" "$host_root/usr/share/man/man1/lupex-host.1.gz" "$host_root/usr/bin/lupex-host" ||
  fail "lupex-host(1) of the package"

# The runtime and Python packages alone: Debian's python3 imports lupex, which finds
# liblupex.so.2 through the dynamic linker's search, and answers as the library does.
python_root=$work/python-root
for package in liblupex2 python3-lupex; do dpkg-deb -x "${deb[$package]}" "$python_root"; done
cat >"$work/module.py" <<'PYTHON'
import lupex
print(lupex.__version__)
print(lupex.encrypt("secret", "Hello, world"))
print(lupex.decrypt(b"secret", "26FVP/Vur1q.7J5YR0oj5Ks1").decode())
print(lupex.md5("abc"))
with lupex.Key(b"secret") as k:
    print(k.encrypt("Hello, world"))
try:
    k.encrypt("after the with block")
except ValueError:
    print("refused")
try:
    lupex.encrypt("", "x")
except ValueError:
    print("refused")
PYTHON
python_out=$(PYTHONPATH=$python_root/usr/lib/python3/dist-packages LD_LIBRARY_PATH=$python_root/$lib \
  PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 "$work/module.py" 2>&1) || true
expected_python="$version
26FVP/Vur1q.7J5YR0oj5Ks1
Hello, world
900150983cd24fb0d6963f7d28e17f72
26FVP/Vur1q.7J5YR0oj5Ks1
refused
refused"
[ "$python_out" = "$expected_python" ] || fail "python3-lupex with liblupex2 alone printed: $python_out"

# The runtime and -dev packages alone: pkg-config and find_package(lupex).
dev_root=$work/dev-root
for package in liblupex2 liblupex-dev; do dpkg-deb -x "${deb[$package]}" "$dev_root"; done
export PKG_CONFIG_PATH=$dev_root/$lib/pkgconfig
[ "$(pkg-config --modversion lupex)" = "$version" ] || fail "pkg-config gives version $(pkg-config --modversion lupex)"
for program in pkgconfig_consumer api_consumer; do
  # shellcheck disable=SC2046
  if cc -std=c99 -Wall -Wextra -Werror "$tests/consumer/$program.c" \
       $(pkg-config --cflags --libs lupex) -o "$work/$program"; then
    LD_LIBRARY_PATH=$dev_root/$lib "$work/$program" >"$work/out" || { fail "$program failed:"; cat "$work/out"; }
  else
    fail "$program.c does not build with pkg-config's flags"
  fi
done
if cmake -S "$tests/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$dev_root/usr" \
     -DCMAKE_BUILD_TYPE=Release >"$work/cmake.log" 2>&1 &&
   cmake --build "$work/consumer" >>"$work/cmake.log" 2>&1; then
  for program in lupex_consumer lupex_api_consumer lupex_api_consumer_static; do
    LD_LIBRARY_PATH=$dev_root/$lib "$work/consumer/$program" >"$work/out" ||
      { fail "$program (find_package) failed:"; cat "$work/out"; }
  done
else
  fail "a CMake project with find_package(lupex) does not build against liblupex2 and liblupex-dev:"
  tail -20 "$work/cmake.log"
fi

if [ "$failures" -ne 0 ]; then
  echo "Debian packages: $failures check(s) failed"
  exit 1
fi
echo "Debian packages $version: lintian clean, control fields, symbols, files, manual page, host with the runtime alone, the Python module with the runtime alone, pkg-config and find_package with the runtime and -dev alone ok"
