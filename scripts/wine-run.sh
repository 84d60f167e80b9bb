#!/usr/bin/env bash
# Runs a Windows program under Wine, headless and quiet: a 32-bit program under
# 32-bit Wine, a 64-bit one under 64-bit Wine. A throw-away prefix is made once per
# test run (scripts/test.sh sets LUPEX_WINEPREFIX) or per call; one prefix serves
# both kinds of program. Wine's own output goes to a file and is copied out
# afterwards: wineserver inherits the descriptors it is started with and would hold
# a pipe open long after the run. The output is copied byte for byte (a reply may
# hold a carriage return of its own). With LUPEX_WINE_DIRECT=1 the program gets this
# script's own standard streams instead, for checks of how it meets them (a full
# disk, a closed stream): then the caller makes sure that a pipe held open by
# wineserver does not matter.
# usage: wine-run.sh PROGRAM.exe [ARGUMENTS...]
set -u
wine64=/usr/lib/wine/wine64 wine32=/usr/lib/wine/wine
[ -x "$wine64" ] || wine64=$(command -v wine64 || true)
[ -n "$wine64" ] || { echo "wine-run: 64-bit Wine is not installed (scripts/setup.sh installs it)" >&2; exit 127; }

# The machine field of the PE header, whose offset sits at 0x3c: 014c is 32-bit x86.
machine() {
  local pe
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] && od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' '
}
wine=("$wine64")
if [ -f "${1:-}" ] && [ "$(machine "$1")" = 014c ]; then
  wine=("$wine32")
  [ -x "$wine32" ] || { echo "wine-run: 32-bit Wine is not installed (scripts/setup.sh installs wine32:i386)" >&2; exit 127; }
  # A kernel without 32-bit x86 support cannot run the loader (126): qemu-i386 runs
  # it, and WINELOADERNOEXEC keeps it from starting itself anew, which would go to
  # the kernel again. The processes it starts (wineserver, services) are 64-bit.
  if ! "$wine32" --version >/dev/null 2>&1 && command -v qemu-i386 >/dev/null; then
    wine=(env WINELOADERNOEXEC=1 qemu-i386 "$wine32")
  fi
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
own_prefix=
if [ -z "${LUPEX_WINEPREFIX:-}" ]; then
  LUPEX_WINEPREFIX=$(mktemp -d /tmp/lupex-wine.XXXXXX)
  own_prefix=1
fi
export WINEPREFIX=$LUPEX_WINEPREFIX
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine64" wineboot --init >"$WINEPREFIX/.boot.log" 2>&1 </dev/null
fi
if [ "${LUPEX_WINE_DIRECT:-}" = 1 ]; then
  "${wine[@]}" "$@"
  rc=$?
  [ -z "$own_prefix" ] || { WINEPREFIX=$LUPEX_WINEPREFIX "${wine64%64}server" -k 2>/dev/null; rm -rf "$LUPEX_WINEPREFIX"; }
  exit $rc
fi
out=$(mktemp /tmp/lupex-wine-out.XXXXXX)
err=$(mktemp /tmp/lupex-wine-err.XXXXXX)
"${wine[@]}" "$@" >"$out" 2>"$err"
rc=$?
cat "$out"
cat "$err" >&2
# 126: the kernel could not execute the 32-bit loader, and there is no qemu-i386.
[ $rc -eq 126 ] && [ "${wine[0]}" = "$wine32" ] &&
  echo "wine-run: $wine32 does not run on this machine; scripts/setup.sh installs qemu-i386 for it" >&2
rm -f "$out" "$err"
if [ -n "$own_prefix" ]; then
  WINEPREFIX=$LUPEX_WINEPREFIX "${wine64%64}server" -k 2>/dev/null || true
  rm -rf "$LUPEX_WINEPREFIX"
fi
exit $rc
