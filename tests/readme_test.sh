#!/usr/bin/env bash
# Does what the README tells a user to do, and checks that it prints what the README
# shows. In its ```console blocks every "$ COMMAND" line is run, in order, in one
# bash session that starts in the source tree with a throw-away HOME; the lines after
# a command, up to the next command or the end of the block, are its expected output
# (standard output and standard error, as a terminal shows them). A command with no
# output shown must succeed. A ```c block whose first line is "// NAME" is saved as
# NAME in the session's current folder at that point, as a user saves it; one that
# includes <windows.h> is also built for both Windows targets with every warning an
# error and run under Wine beside each lupex.dll, and beside the other target's, where
# it must fail and say that the DLL is of the other bitness.
# Its ```bat blocks are Visual Studio command prompt lines, "> COMMAND" followed by
# the output shown, as in the console blocks. With --wine they run, for 32-bit and for
# 64-bit Windows, in a copy of ZIPDIR holding the README's C files: the blocks as shown
# for x64, and with win64 and /machine:x64 read as win32 and /machine:x86 for x86; a
# block that begins with ```bat x64 is for x64 only.
# cl, link and lib run in MSVC mode as tests/msvc/tools.sh says (clang-cl, lld-link,
# llvm-dlltool; no C runtime); any other command is a program, run under Wine.
# With --wine ZIPDIR, every command that calls lupex-host runs again with each Windows
# host of the unpacked release package ZIPDIR under Wine, and must print the same
# (ZIPDIR may be one that the README's own commands make); and every console block
# with an x86_64-w64-mingw32 command runs again for x86, with i686-w64-mingw32 and
# win32 in their place, and must print the same.
# usage: readme_test.sh README [--wine ZIPDIR]
set -uo pipefail
readme=$(realpath "$1")
shift
zipdir=
if [ "${1:-}" = --wine ]; then zipdir=$(realpath -m "$2"); fi
root=$(cd "$(dirname "$0")/.." && pwd)
wine_run=$root/scripts/wine-run.sh
work=$(mktemp -d)
# wine-run.sh keeps its prefix under HOME unless LUPEX_WINEPREFIX is set.
cleanup() {
  [ ! -d "$HOME/.cache/lupex/wine" ] || WINEPREFIX=$HOME/.cache/lupex/wine /usr/lib/wine/wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home
mkdir -p "$HOME" "$work/run"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The command that runs this test is not run by it.
skipped='bash scripts/test.sh'

# Split the README into the session script and one file per command: run/N.cmd with
# the command, run/N.expected with its output, and c/N.NAME for each program; the
# Visual Studio lines as run/bN.cmd and run/bN.expected.
awk -v run="$work/run" -v skipped="$skipped" -v script="$work/session.sh" '
  function flush_c() { if (cfile != "") close(cfile); cfile = "" }
  /^```console$/ { block = "console"; blocks++; next }
  /^```c$/ { block = "c"; cfile = ""; next }
  /^```bat( x64)?$/ { block = "bat"; current = ""; x64_only = ($0 ~ / x64$/); next }
  /^```/ { if (block == "c") { flush_c(); print "C_EOF" >> script }; block = ""; next }
  block == "console" && /^\$ / {
    cmd = substr($0, 3)
    if (cmd == skipped) { current = ""; next }
    n++; current = run "/" n
    printf "%s\n", cmd > (current ".cmd"); close(current ".cmd")
    printf "" > (current ".expected"); close(current ".expected")
    printf "%d\n", blocks > (current ".block"); close(current ".block")
    printf "pwd >%s.cwd\n{ %s\n} >%s.out 2>&1 </dev/null\necho $? >%s.rc\n", current, cmd, current, current >> script
    next
  }
  block == "console" && current != "" { print >> (current ".expected"); close(current ".expected"); next }
  block == "bat" && /^> / {
    b++; current = run "/b" b
    printf "%s\n", substr($0, 3) > (current ".cmd"); close(current ".cmd")
    printf "" > (current ".expected"); close(current ".expected")
    if (x64_only) { printf "" > (current ".x64"); close(current ".x64") }
    next
  }
  block == "bat" && current != "" { print >> (current ".expected"); close(current ".expected"); next }
  block == "c" && cfile == "" {
    if ($0 !~ /^\/\/ [A-Za-z0-9_.-]+$/) { print "a c block does not begin with // NAME: " $0 > "/dev/stderr"; exit 1 }
    m++; cfile = run "/c" m "." substr($0, 4)
    printf "cat >%s <<'\''C_EOF'\''\n", substr($0, 4) >> script
  }
  block == "c" { print >> script; print >> cfile; next }
' "$readme" || exit 1

(cd "$root" && bash "$work/session.sh") || true

# Compares run/N's output with what the README shows; $2 is the output file.
check() {
  local n=$1 out=$2 rc=$3 what=$4
  if [ -s "$work/run/$n.expected" ]; then
    tr -d '\r' <"$out" >"$out.lf"
    if ! cmp -s "$work/run/$n.expected" "$out.lf"; then
      fail "$what: $(cat "$work/run/$n.cmd")"
      diff "$work/run/$n.expected" "$out.lf" | head -10 | sed 's/^/    /'
    fi
  elif [ "$rc" != 0 ]; then
    fail "$what: $(cat "$work/run/$n.cmd") exited with $rc"
    head -20 "$out" | sed 's/^/    /'
  fi
}

commands=$(find "$work/run" -name '[0-9]*.cmd' | wc -l)
visual_studio=$(find "$work/run" -name 'b*.cmd' | wc -l)
for ((n = 1; n <= commands; n++)); do
  check "$n" "$work/run/$n.out" "$(cat "$work/run/$n.rc" 2>/dev/null || echo missing)" native
done

host_calls=0
if [ -n "$zipdir" ]; then
  for ((n = 1; n <= commands; n++)); do
    grep -qE '(^|[|;&(] *)lupex-host( |$)' "$work/run/$n.cmd" || continue
    host_calls=$((host_calls + 1))
    for bits in win32 win64; do
      {
        echo "lupex-host() { \"$wine_run\" \"$zipdir/$bits/lupex-host.exe\" \"\$@\"; }"
        echo "cd \"$(cat "$work/run/$n.cwd")\""
        echo "{ $(cat "$work/run/$n.cmd")"
        echo "} </dev/null"
      } >"$work/wine.sh"
      # Wine gives a program its arguments in the code page of its locale's language;
      # C.UTF-8 makes that Windows-1252 and passes non-ASCII arguments intact.
      LC_ALL=C.UTF-8 bash "$work/wine.sh" >"$work/wine.out" 2>&1
      check "$n" "$work/wine.out" $? "$bits/lupex-host.exe under Wine"
    done
  done
  # Windows programs: every warning an error, both targets, run beside each DLL.
  for program in "$work"/run/c*.*; do
    [ -e "$program" ] || continue
    grep -q '<windows.h>' "$program" || continue
    for target in win32:i686 win64:x86_64; do
      bits=${target%:*} arch=${target#*:}
      mkdir -p "$work/$bits"
      cp "$zipdir/$bits/lupex.dll" "$work/$bits/"
      "$arch-w64-mingw32-gcc" -std=c99 -Wall -Wextra -Werror -I"$zipdir/include" "$program" \
        -o "$work/$bits/program.exe" || { fail "$(basename "$program") does not build for $bits"; continue; }
      "$wine_run" "$work/$bits/program.exe" >"$work/$bits/out" 2>&1 ||
        { fail "$(basename "$program") for $bits exited with $?"; sed 's/^/    /' "$work/$bits/out"; }
    done
    # Each beside the other target's DLL.
    for target in win32:win64 win64:win32; do
      bits=${target%:*} other=${target#*:}
      [ -e "$work/$bits/program.exe" ] || continue
      mkdir -p "$work/$bits-other"
      cp "$work/$bits/program.exe" "$zipdir/$other/lupex.dll" "$work/$bits-other/"
      "$wine_run" "$work/$bits-other/program.exe" >"$work/$bits-other/out" 2>&1 &&
        fail "$(basename "$program") for $bits beside the $other lupex.dll succeeded"
      grep -q 'other bitness' "$work/$bits-other/out" ||
        { fail "$(basename "$program") for $bits beside the $other lupex.dll does not say it is of the other bitness:"
          sed 's/^/    /' "$work/$bits-other/out"; }
    done
  done
fi

# The MinGW-w64 lines for x86 as well: a console block with an x86_64-w64-mingw32
# command runs again, in a session of its own from where its first command ran, with
# x86_64-w64-mingw32 and win64 read as i686-w64-mingw32 and win32, and must print the
# same.
mingw_x86_blocks=0
if [ -n "$zipdir" ]; then
  for block in $(cat "$work"/run/*.block 2>/dev/null | sort -un); do
    members=()
    for ((n = 1; n <= commands; n++)); do
      [ "$(cat "$work/run/$n.block")" = "$block" ] && members+=("$n")
    done
    grep -qh 'x86_64-w64-mingw32-' $(printf "$work/run/%s.cmd " "${members[@]}") || continue
    mingw_x86_blocks=$((mingw_x86_blocks + 1))
    {
      echo "cd \"$(cat "$work/run/${members[0]}.cwd")\""
      for n in "${members[@]}"; do
        echo "{ $(sed 's/x86_64-w64-mingw32-/i686-w64-mingw32-/g; s/win64/win32/g' "$work/run/$n.cmd")"
        echo "} >\"$work/run/x86-$n.out\" 2>&1 </dev/null"
        echo "echo \$? >\"$work/run/x86-$n.rc\""
      done
    } >"$work/x86.sh"
    bash "$work/x86.sh"
    for n in "${members[@]}"; do
      check "$n" "$work/run/x86-$n.out" "$(cat "$work/run/x86-$n.rc" 2>/dev/null || echo missing)" \
        "for x86 with i686-w64-mingw32 and win32"
    done
  done
fi

# The Visual Studio lines, in MSVC mode, for each target in a copy of the package.
if [ -n "$zipdir" ] && [ "$visual_studio" -gt 0 ]; then
  # shellcheck source=tests/msvc/tools.sh
  source "$root/tests/msvc/tools.sh"
  for bits in win32 win64; do
    folder=$work/vs-$bits
    cp -R "$zipdir" "$folder"
    for program in "$work"/run/c*.*; do
      [ -e "$program" ] || continue
      name=${program##*/}
      cp "$program" "$folder/${name#c*.}"
    done
    msvc_tools "$bits" "$work/vs-tools-$bits" >"$work/vs.out" 2>&1 ||
      { fail "no MSVC-mode tools for $bits:"; sed 's/^/    /' "$work/vs.out"; continue; }
    for ((n = 1; n <= visual_studio; n++)); do
      [ "$bits" = win64 ] || [ ! -e "$work/run/b$n.x64" ] || continue
      read -ra words <"$work/run/b$n.cmd"
      if [ "$bits" = win32 ]; then
        words=("${words[@]//win64/win32}")
        words=("${words[@]//\/machine:x64//machine:x86}")
      fi
      (
        cd "$folder" || exit 1
        case ${words[0],,} in
          cl | link | lib) "${words[@]}" ;;
          *) program=${words[0]//\\//}; "$wine_run" "${program%.exe}.exe" "${words[@]:1}" ;;
        esac
      ) >"$work/vs.out" 2>&1
      check "b$n" "$work/vs.out" $? "Visual Studio lines for $bits in MSVC mode"
    done
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "README: $failures check(s) failed"
  exit 1
fi
echo "README: $commands commands as shown${zipdir:+, $host_calls host calls the same under Wine with both Windows hosts, $mingw_x86_blocks blocks of MinGW-w64 lines again for x86, $visual_studio Visual Studio lines in MSVC mode for x64, $((visual_studio - $(find "$work/run" -name 'b*.x64' | wc -l))) of them also for x86}"
