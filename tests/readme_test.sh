#!/usr/bin/env bash
# Does what the README tells a user to do, and checks that it prints what the README
# shows. In its ```console blocks every "$ COMMAND" line is run, in order, in one
# bash session that starts in the source tree with a throw-away HOME; the lines after
# a command, up to the next command or the end of the block, are its expected output
# (standard output and standard error, as a terminal shows them). A command with no
# output shown must succeed. A ```c block whose first line is "// NAME" is saved as
# NAME in the session's current folder at that point, as a user saves it; one that
# includes <windows.h> is also built for both Windows targets with every warning an
# error and run under Wine beside each lupex.dll.
# With --wine ZIPDIR, every command that calls lupex-host runs again with each Windows
# host of the unpacked release package ZIPDIR under Wine, and must print the same
# (ZIPDIR may be one that the README's own commands make).
# usage: readme_test.sh README [--wine ZIPDIR]
set -uo pipefail
readme=$(realpath "$1")
shift
zipdir=
if [ "${1:-}" = --wine ]; then zipdir=$(realpath -m "$2"); fi
root=$(cd "$(dirname "$0")/.." && pwd)
wine_run=$root/scripts/wine-run.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME" "$work/run"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The command that runs this test is not run by it.
skipped='bash scripts/test.sh'

# Split the README into the session script and one file per command: run/N.cmd with
# the command, run/N.expected with its output, and c/N.NAME for each program.
awk -v run="$work/run" -v skipped="$skipped" -v script="$work/session.sh" '
  function flush_c() { if (cfile != "") close(cfile); cfile = "" }
  /^```console$/ { block = "console"; next }
  /^```c$/ { block = "c"; cfile = ""; next }
  /^```/ { if (block == "c") { flush_c(); print "C_EOF" >> script }; block = ""; next }
  block == "console" && /^\$ / {
    cmd = substr($0, 3)
    if (cmd == skipped) { current = ""; next }
    n++; current = run "/" n
    printf "%s\n", cmd > (current ".cmd"); close(current ".cmd")
    printf "" > (current ".expected"); close(current ".expected")
    printf "pwd >%s.cwd\n{ %s\n} >%s.out 2>&1 </dev/null\necho $? >%s.rc\n", current, cmd, current, current >> script
    next
  }
  block == "console" && current != "" { print >> (current ".expected"); close(current ".expected"); next }
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

commands=$(find "$work/run" -name '*.cmd' | wc -l)
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
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "README: $failures check(s) failed"
  exit 1
fi
echo "README: $commands commands as shown${zipdir:+, $host_calls host calls the same under Wine with both Windows hosts}"
