#!/usr/bin/env bash
# Times the text loops of one build (bench/text_loops.cpp against its static library)
# and, for a Windows build, counts the stack accesses per round in those loops of its
# DLL (bench/loop_spills.sh). The Windows programs run under Wine, 32-bit Wine for
# win32, so the 32-bit loops run at their real speed where the machine runs 32-bit
# code natively. To compare numbers of blocks in flight, change `lanes` in
# cipher/text_cipher.cpp and run again.
# usage: text_loops.sh win32|win64|native
set -euo pipefail
cd "$(dirname "$0")/.."
preset=$1
case $preset in
  win32) cxx=i686-w64-mingw32-g++-posix arch=i686 run=scripts/wine-run.sh ;;
  win64) cxx=x86_64-w64-mingw32-g++-posix arch=x86_64 run=scripts/wine-run.sh ;;
  native) cxx=g++ arch= run= ;;
  *) echo "usage: text_loops.sh win32|win64|native" >&2; exit 1 ;;
esac
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j 2 --target lupex lupex_static >/dev/null
build=build/$preset
flags=(-O2 -std=c++17 -I. -Iinclude)
[ -n "$arch" ] && flags+=(-static)
"$cxx" "${flags[@]}" bench/text_loops.cpp "$build/liblupex_static.a" -o "$build/text_loops"
program=$build/text_loops
[ -n "$arch" ] && program=$build/text_loops.exe
$run "$program"
[ -z "$arch" ] || bash bench/loop_spills.sh "$build/lupex.dll" "$arch"
