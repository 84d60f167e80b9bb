#!/usr/bin/env bash
# Runs a Windows program under Wine, headless and quiet: a 32-bit program under
# 32-bit Wine, a 64-bit one under 64-bit Wine. The Wine prefix is made on the first
# call and kept for the next ones: the user's own, ${XDG_CACHE_HOME:-~/.cache}/lupex/wine,
# unless LUPEX_WINEPREFIX names another (the project's test run gives each run a
# throw-away one); one prefix serves both kinds of program. Wine's own output goes to
# a file and is copied out afterwards: wineserver inherits the descriptors it is
# started with and would hold a pipe open long after the run. The output is copied
# byte for byte (a reply may hold a carriage return of its own). Wine's loader errors
# are kept out of it; when a program cannot start, the script says which DLL could
# not be loaded and why. With LUPEX_WINE_DIRECT=1 the program gets this script's own
# standard streams instead, for checks of how it meets them (a full disk, a closed
# stream): then the caller makes sure that a pipe held open by wineserver does not
# matter.
# usage: wine-run.sh PROGRAM.exe [ARGUMENTS...]
[ -n "${BASH_VERSION:-}" ] || { echo "$0: a bash script: run it as bash $0" >&2; exit 2; }
set -u
wine64=/usr/lib/wine/wine64 wine32=/usr/lib/wine/wine
[ -x "$wine64" ] || wine64=$(command -v wine64 || true)
[ -n "$wine64" ] || { echo "wine-run: 64-bit Wine is not installed (Debian: apt-get install wine64)" >&2; exit 127; }

# The machine field of the PE header, whose offset sits at 0x3c: 014c is 32-bit x86,
# 8664 64-bit.
machine() {
  local pe
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] && od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' '
}
bits() { case $(machine "$1") in 014c) echo 32 ;; 8664) echo 64 ;; esac; }
wine=("$wine64")
if [ -f "${1:-}" ] && [ "$(machine "$1")" = 014c ]; then
  wine=("$wine32")
  [ -x "$wine32" ] || {
    echo "wine-run: 32-bit Wine is not installed (Debian: dpkg --add-architecture i386 && apt-get update && apt-get install wine32:i386)" >&2
    exit 127
  }
  # A kernel without 32-bit x86 support cannot run the loader (126): qemu-i386 runs
  # it, and WINELOADERNOEXEC keeps it from starting itself anew, which would go to
  # the kernel again. The processes it starts (wineserver, services) are 64-bit.
  if ! "$wine32" --version >/dev/null 2>&1 && command -v qemu-i386 >/dev/null; then
    wine=(env WINELOADERNOEXEC=1 qemu-i386 "$wine32")
  fi
fi
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
if [ -z "${LUPEX_WINEPREFIX:-}" ]; then
  cache=${XDG_CACHE_HOME:-${HOME:?wine-run: HOME is not set: LUPEX_WINEPREFIX names the Wine prefix}/.cache}
  LUPEX_WINEPREFIX=$cache/lupex/wine
fi
export WINEPREFIX=$LUPEX_WINEPREFIX
mkdir -p "$WINEPREFIX" || exit 1
# Made once; a second call that starts meanwhile waits for it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  (
    flock 9
    # wineserver -w: until the new prefix is written out, which the next call
    # would otherwise wait for.
    [ -f "$WINEPREFIX/system.reg" ] ||
      { WINEDEBUG=-all "$wine64" wineboot --init && "${wine64%64}server" -w; } >"$WINEPREFIX/.boot.log" 2>&1 </dev/null
  ) 9>"$WINEPREFIX/.lupex-boot.lock"
fi
if [ "${LUPEX_WINE_DIRECT:-}" = 1 ]; then
  WINEDEBUG=-all exec "${wine[@]}" "$@"
fi
out=$(mktemp /tmp/lupex-wine-out.XXXXXX)
err=$(mktemp /tmp/lupex-wine-err.XXXXXX)
# The loader's errors (err:module) tell why a program did not start.
WINEDEBUG=-all,err+module "${wine[@]}" "$@" >"$out" 2>"$err"
rc=$?
cat "$out"
loader_errors=$(grep -aE '^[0-9a-f]+:err:module:' "$err")
if [ -z "$loader_errors" ]; then
  cat "$err" >&2
else
  grep -avE '^[0-9a-f]+:err:module:' "$err" >&2
fi
rm -f "$out" "$err"
# A program whose imports could not be loaded never ran: name the DLL and the reason.
if [ $rc -ne 0 ] && [[ "$loader_errors" == *"LdrInitializeThunk Importing dlls"*failed* ]]; then
  program=$1 program_bits=$(bits "$1")
  while IFS= read -r line; do
    [[ "$line" =~ import_dll\ (Loading\ library|Library)\ ([^ ]+)\ \(which\ is\ needed\ by\ L\"(.*)\"\)\ (.*)$ ]] || continue
    dll=${BASH_REMATCH[2]} needed_by=${BASH_REMATCH[3]//\\\\/\\} outcome=${BASH_REMATCH[4]}
    beside=$(dirname "$program")/$dll
    if [[ "$outcome" == "not found" ]]; then
      reason="was not found: Windows looks beside the program first, put the $program_bits-bit $dll there"
    elif [ -f "$beside" ] && [ -n "$(bits "$beside")" ] && [ "$(bits "$beside")" != "$program_bits" ]; then
      reason="beside it is $(bits "$beside")-bit and the program $program_bits-bit: put the $program_bits-bit $dll there"
    else
      reason="does not load (${outcome#failed })"
    fi
    echo "wine-run: $program cannot start: $dll ($needed_by needs it) $reason" >&2
  done <<<"$loader_errors"
fi
# 126: the kernel could not execute the 32-bit loader, and there is no qemu-i386.
[ $rc -eq 126 ] && [ "${wine[0]}" = "$wine32" ] &&
  echo "wine-run: $wine32 does not run on this machine: its kernel runs no 32-bit x86 programs (Debian: apt-get install qemu-user)" >&2
exit $rc
