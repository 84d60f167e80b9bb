#!/usr/bin/env bash
# Unpacks a release package as a user does and checks it: exactly the files it should
# hold, their checksums against SHA256SUMS, the header, README and licence as in the
# sources, both DLLs through the export, lean DLL and version resource checks, both
# host programs importing Windows system DLLs only, each host from the package calling
# the DLL beside it under Wine through the package's own wine-run.sh (32-bit Wine for
# the 32-bit one), the request table answered through each host and DLL of the
# package, a C program linked against each import library from the package
# calling all five exports, and a C program linked against each static library
# calling the C API, without lupex.dll, a program built in MSVC mode linked against
# each lupex.lib calling the exports, and the C API's liblupex-2.dll through the same
# checks and programs of both kinds linked against its import libraries.
# usage: package_test.sh ZIP
set -euo pipefail
zip=$(realpath "$1")
tests=$(cd "$(dirname "$0")" && pwd)
for tool in unzip sha256sum; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (run scripts/setup.sh)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

unzip -q "$zip" -d "$work"
name=$(basename "$zip" .zip)
root=$work/$name
[ -d "$root" ] || { echo "FAIL: $zip has no top folder $name"; exit 1; }
cd "$root"

expected_files='CHANGELOG.md
LICENSE
README.md
SHA256SUMS
include/lupex.h
win32/liblupex-2.dll
win32/liblupex-2.dll.a
win32/liblupex-2.lib
win32/liblupex.dll.a
win32/liblupex_static.a
win32/lupex-host.exe
win32/lupex.def
win32/lupex.dll
win32/lupex.lib
win64/liblupex-2.dll
win64/liblupex-2.dll.a
win64/liblupex-2.lib
win64/liblupex.dll.a
win64/liblupex_static.a
win64/lupex-host.exe
win64/lupex.def
win64/lupex.dll
win64/lupex.lib
wine-run.sh'
files=$(find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$files" = "$expected_files" ] || fail "the package holds: $(echo $files)"
# SHA256SUMS names every other file, and every sum matches.
summed=$(awk '{print $2}' SHA256SUMS | LC_ALL=C sort)
[ "$summed" = "$(grep -vx SHA256SUMS <<<"$expected_files")" ] || fail "SHA256SUMS lists: $(echo $summed)"
sha256sum --quiet -c SHA256SUMS || fail "checksums do not match SHA256SUMS"
cmp -s include/lupex.h "$tests/../include/lupex.h" || fail "include/lupex.h differs from the sources"
cmp -s README.md "$tests/../README.md" || fail "README.md differs from the sources"
cmp -s wine-run.sh "$tests/../scripts/wine-run.sh" || fail "wine-run.sh differs from scripts/wine-run.sh"
for doc in LICENSE CHANGELOG.md; do
  cmp -s "$doc" "$tests/../$doc" || fail "$doc differs from the sources"
done

for target in win32:i686:pei-i386 win64:x86_64:pei-x86-64; do
  IFS=: read -r dir arch format <<<"$target"
  bash "$tests/windows_exports.sh" "$dir/lupex.dll" "$arch" || fail "$dir/lupex.dll export checks"
  bash "$tests/windows_lean.sh" "$dir/lupex.dll" "$arch" || fail "$dir/lupex.dll lean DLL checks"
  bash "$tests/windows_resource.sh" "$dir/lupex.dll" "$arch" || fail "$dir/lupex.dll version resource"
  bash "$tests/windows_api_exports.sh" "$dir/liblupex-2.dll" "$arch" include/lupex.h ||
    fail "$dir/liblupex-2.dll export checks"
  bash "$tests/windows_lean.sh" "$dir/liblupex-2.dll" "$arch" || fail "$dir/liblupex-2.dll lean DLL checks"
  "$arch-w64-mingw32-objdump" -f "$dir/lupex-host.exe" | grep -q "file format $format" ||
    fail "$dir/lupex-host.exe is not $format"
  imports=$("$arch-w64-mingw32-objdump" -p "$dir/lupex-host.exe" | awk '/DLL Name:/{print tolower($3)}' | sort -u | tr '\n' ' ')
  [ "$imports" = "kernel32.dll msvcrt.dll " ] || fail "$dir/lupex-host.exe imports $imports"
done

# Each host as unpacked: it finds lupex.dll beside itself.
wine_run=$root/wine-run.sh
version=${name#lupex-}
for dir in win32 win64; do
  host() { bash "$wine_run" "$dir/lupex-host.exe" "$@"; }
  expect() {
    local actual
    actual=$(host "${@:2}") || fail "$dir/lupex-host.exe ${*:2}: exit status $?"
    [ "$actual" = "$1" ] || fail "$dir/lupex-host.exe ${*:2}: '$actual', expected '$1'"
  }
  expect $'1 LoadDll\n2 UnloadDll\n3 blowfish\n4 dllinfo\n5 md5' --list
  expect '+OK 900150983cd24fb0d6963f7d28e17f72' md5 abc
  expect '+OK 26FVP/Vur1q.7J5YR0oj5Ks1' blowfish 'encrypt secret Hello, world'
  expect '+OK Hello, world' blowfish 'decrypt secret 26FVP/Vur1q.7J5YR0oj5Ks1'
  expect "lupex-host ${version%-windows}" --version
  # The whole request table through the host and the DLL as the package holds them
  # (stripped, as shipped), one batch run.
  bash "$tests/host_replies.sh" "$tests/data/replies.tsv" bash "$wine_run" "$dir/lupex-host.exe" ||
    fail "$dir/lupex-host.exe with $dir/lupex.dll: the request table"
done

# A program of one's own, linked against the package's import library and header,
# run beside the package's DLL.
for target in win32:i686 win64:x86_64; do
  IFS=: read -r dir arch <<<"$target"
  program=$dir/consumer.exe
  if "$arch-w64-mingw32-gcc" -O2 -Wall -Wextra -Werror -Iinclude "$tests/consumer/consumer.c" \
       -L"$dir" -llupex -static-libgcc -o "$program" >"$work/link.log" 2>&1; then
    bash "$wine_run" "$program" >"$work/out" || { fail "$program's calls:"; cat "$work/out"; }
    # Without lupex.dll beside it, and beside the other bitness's: the program cannot
    # start, and wine-run.sh says which DLL and why.
    other=win64 own_bits=32 other_bits=64
    [ "$dir" = win32 ] || other=win32 own_bits=64 other_bits=32
    alone=$work/alone-$dir
    for case in "|lupex.dll (*) was not found: Windows looks beside the program first, put the $own_bits-bit lupex.dll there" \
                "$other/lupex.dll|lupex.dll (*) beside it is $other_bits-bit and the program $own_bits-bit: put the $own_bits-bit lupex.dll there"; do
      beside=${case%%|*} message=${case#*|}
      rm -rf "$alone" && mkdir "$alone" && cp "$program" "$alone/"
      [ -z "$beside" ] || cp "$beside" "$alone/"
      bash "$wine_run" "$alone/consumer.exe" >"$work/out" 2>"$work/err" &&
        fail "$dir/consumer.exe beside ${beside:-no lupex.dll} ran"
      # shellcheck disable=SC2053
      [[ "$(cat "$work/err")" == "wine-run: $alone/consumer.exe cannot start: "$message ]] ||
        fail "$dir/consumer.exe beside ${beside:-no lupex.dll}: wine-run.sh said '$(cat "$work/err")'"
    done
  else
    fail "a C program does not link against $dir/liblupex.dll.a:"
    cat "$work/link.log"
  fi
  rm -f "$program"
  # The C API from the static library: the program needs no lupex.dll.
  program=$dir/api-consumer.exe
  if "$arch-w64-mingw32-gcc" -O2 -Wall -Wextra -Werror -Iinclude "$tests/consumer/api_consumer.c" \
       -L"$dir" -llupex_static -static-libgcc -o "$program" >"$work/link.log" 2>&1; then
    imports=$("$arch-w64-mingw32-objdump" -p "$program" | awk '/DLL Name:/{print tolower($3)}' | sort -u | tr '\n' ' ')
    # ADVAPI32: the random source of the CBC form's IVs.
    [ "$imports" = "advapi32.dll kernel32.dll msvcrt.dll " ] || fail "$program imports $imports"
    bash "$wine_run" "$program" >"$work/out" || { fail "$program's calls:"; cat "$work/out"; }
  else
    fail "a C program does not link against $dir/liblupex_static.a:"
    cat "$work/link.log"
  fi
  rm -f "$program"
done

# wine-run.sh names what to install where Wine is missing (the Debian packages; the
# zip holds no setup script): the two loaders hidden in a mount namespace of its own.
if unshare -m true 2>/dev/null; then
  for case in "wine64|win64|apt-get install wine64" \
              "wine|win32|dpkg --add-architecture i386 && apt-get update && apt-get install wine32:i386"; do
    IFS='|' read -r loader dir advice <<<"$case"
    status=0
    unshare -m sh -c 'mount --bind /dev/null "/usr/lib/wine/$0" && exec bash "$@"' "$loader" \
      "$wine_run" "$dir/lupex-host.exe" --version >"$work/out" 2>"$work/err" || status=$?
    [ "$status" = 127 ] && [[ "$(cat "$work/err")" == *"Wine is not installed (Debian: $advice)" ]] ||
      fail "wine-run.sh without /usr/lib/wine/$loader: status $status, '$(cat "$work/err")'"
    grep -qF "\`$advice\`" README.md || fail "README.md does not say, as wine-run.sh does: $advice"
  done
else
  echo "note: no mount namespace (unshare -m): wine-run.sh without Wine not checked"
fi
grep -n 'scripts/' "$wine_run" && fail "wine-run.sh names files that the zip does not hold"
# Run with sh (dash on Debian) it says that it is a bash script, and runs nothing.
status=0
dash "$wine_run" consumer.exe >"$work/out" 2>&1 || status=$?
[ "$status" -eq 2 ] && grep -q "a bash script: run it as bash" "$work/out" ||
  fail "wine-run.sh under dash: status $status, $(cat "$work/out")"

# Without LUPEX_WINEPREFIX, wine-run.sh keeps one prefix in the user's cache folder
# and makes it only once.
cache_home=$work/home
mkdir "$cache_home"
(unset LUPEX_WINEPREFIX XDG_CACHE_HOME; export HOME=$cache_home
 bash "$wine_run" win64/lupex-host.exe md5 abc >"$work/out" 2>&1 &&
   touch "$cache_home/.cache/lupex/wine/kept" &&
   bash "$wine_run" win32/lupex-host.exe md5 abc >>"$work/out" 2>&1) ||
  fail "wine-run.sh with the prefix in ~/.cache: $(cat "$work/out")"
[ "$(cat "$work/out")" = $'+OK 900150983cd24fb0d6963f7d28e17f72\n+OK 900150983cd24fb0d6963f7d28e17f72' ] ||
  fail "wine-run.sh with the prefix in ~/.cache printed '$(cat "$work/out")'"
[ -f "$cache_home/.cache/lupex/wine/system.reg" ] && [ -f "$cache_home/.cache/lupex/wine/kept" ] ||
  fail "wine-run.sh did not keep its prefix in ~/.cache/lupex/wine"
WINEPREFIX=$cache_home/.cache/lupex/wine /usr/lib/wine/wineserver -k 2>/dev/null || true

# A Visual Studio program linked against each lupex.lib (MSVC mode: clang-cl, lld-link).
bash "$tests/msvc_consumer.sh" . || fail "the MSVC-mode consumer against lupex.lib"
# The C API through liblupex-2.dll, linked with each of its import libraries.
bash "$tests/api_dll_consumer.sh" . || fail "the C API programs against liblupex-2.dll"

if [ "$failures" -ne 0 ]; then
  echo "$name: $failures package check(s) failed"
  exit 1
fi
echo "$name: contents, checksums, DLL checks, both hosts, the request table through both DLLs, import libraries (GNU and MSVC), static libraries and the C API's DLL under Wine ok"
