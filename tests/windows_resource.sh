#!/usr/bin/env bash
# Checks the version resource of a built lupex.dll: the fixed part (file and product
# version as four 16-bit numbers, file type DLL) and the strings that Windows shows in
# the file's properties (the copyright among them), stored as UTF-16 in the .rsrc
# section.
# usage: windows_resource.sh DLL i686|x86_64 [VERSION]   (default: the CMake project version)
set -euo pipefail
dll=$1 arch=$2
version=${3:-$(sed -n 's/^project(lupex VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")}
objcopy=$arch-w64-mingw32-objcopy strings=$arch-w64-mingw32-strings
for tool in "$objcopy" "$strings" od; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (run scripts/setup.sh)"; exit 1; }
done
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$objcopy" -O binary --only-section=.rsrc "$dll" "$work/rsrc"
[ -s "$work/rsrc" ] || { echo "FAIL: $dll has no .rsrc section"; exit 1; }

# VS_FIXEDFILEINFO starts with the signature 0xFEEF04BD on a 4-byte boundary; the
# version words follow as major<<16|minor and patch<<16|build, little-endian.
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
IFS=. read -r major minor patch <<<"$version"
expected_version=$(le32 $((major << 16 | minor)))$(le32 $((patch << 16)))
hex=$(od -An -v -tx1 "$work/rsrc" | tr -d ' \n')
before=${hex%%bd04effe*}
if [ "$before" = "$hex" ] || [ $((${#before} % 8)) -ne 0 ]; then
  fail "no VS_FIXEDFILEINFO"
else
  fixed=${hex:${#before}:104}
  [ "${fixed:16:16}" = "$expected_version" ] || fail "fixed file version ${fixed:16:16}, expected $expected_version ($version.0)"
  [ "${fixed:32:16}" = "$expected_version" ] || fail "fixed product version ${fixed:32:16}, expected $expected_version ($version.0)"
  [ "${fixed:72:8}" = "$(le32 2)" ] || fail "file type ${fixed:80:8}, expected VFT_DLL"
fi

# The string table: each key is followed by its value.
"$strings" -el "$work/rsrc" >"$work/strings"
value() { awk -v key="$1" 'found {print; exit} $0 == key {found = 1}' "$work/strings"; }
check() {
  local actual
  actual=$(value "$1")
  [[ "$actual" == $2 ]] || fail "$1 is '$actual', expected '$2'"
}
check FileVersion "$version"
check ProductVersion "$version"
check ProductName lupex
check OriginalFilename lupex.dll
check FileDescription '?*'
check Comments '*20720*'
check LegalCopyright 'Copyright (c) 2026 the lupex authors. MIT License.'

if [ "$failures" -ne 0 ]; then
  echo "$dll: $failures version resource check(s) failed"
  exit 1
fi
echo "$dll ($arch): version resource $version, product lupex, original name lupex.dll, identification 20720 ok"
