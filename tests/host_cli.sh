#!/usr/bin/env bash
# The host program's own behaviour: --help, --version, --list, hex input and output,
# exit statuses and messages for bad usage, unknown exports and missing libraries,
# and the guard checks against a library that breaks the buffer contract.
# usage: host_cli.sh VERSION ROGUE_LIBRARY [EMULATOR] HOST
set -uo pipefail
version=$1 rogue=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

host_command=("$@")
# host ARGS...: runs the host; leaves its exit status, stdout and stderr in status,
# out and err. batch INPUT ARGS...: the same with INPUT on standard input.
host() { batch '' "$@"; }
batch() {
  printf '%s' "$1" >"$work/in"
  shift
  "${host_command[@]}" "$@" <"$work/in" >"$work/out" 2>"$work/err"
  status=$? out=$(cat "$work/out") err=$(cat "$work/err")
}
hex_of() { od -An -v -tx1 | tr -d ' \n'; }

# expect STATUS STDERR-PATTERN ARGS...: the exit status, and a message on stderr that
# matches the pattern ('' for an empty stderr).
expect() {
  local want=$1 pattern=$2
  shift 2
  host "$@"
  [ "$status" = "$want" ] || fail "lupex-host $*: exit status $status, expected $want"
  if [ -z "$pattern" ]; then
    [ -z "$err" ] || fail "lupex-host $*: unexpected stderr: $err"
  else
    [[ "$err" == *$pattern* ]] || fail "lupex-host $*: stderr '$err' lacks '$pattern'"
  fi
}

# Information options.
for option in --help -h; do
  expect 0 '' "$option"
  [[ "$out" == *"usage: lupex-host"*"examples:"* ]] || fail "$option: no usage and examples on stdout"
done
expect 0 '' --version
[ "$out" = "lupex-host $version" ] || fail "--version printed '$out'"
expect 0 '' --list
[ "$out" = $'1 LoadDll\n2 UnloadDll\n3 blowfish\n4 dllinfo\n5 md5' ] || fail "--list printed '$out'"

# Bad usage: exit status 1 and the usage on stderr.
expect 1 usage
expect 1 usage --frobnicate md5 abc
expect 1 usage -v md5
expect 1 usage --library
expect 1 usage md5 abc extra
expect 1 usage --batch md5
expect 1 usage --list md5
expect 1 usage --batch --list

# Unknown exports, lifecycle hooks, libraries that do not load, malformed hex: status 2.
expect 2 "no export named 'nosuch'" nosuch abc
expect 2 "lifecycle hook" LoadDll ''
expect 2 "cannot load" --library /nonexistent/lupex-library md5 abc
expect 2 "hex digits" --hex md5 616
expect 2 "hex digits" --hex md5 6g
batch $'md5 abc\nnosuch abc\n' --batch
[ "$status" = 2 ] && [[ "$err" == *"no export named 'nosuch'"* ]] ||
  fail "--batch with an unknown export: status $status, stderr '$err'"
[ "$out" = "+OK 900150983cd24fb0d6963f7d28e17f72" ] || fail "--batch: the reply before the unknown export is '$out'"

# --hex: bytes a shell passes badly (0x80 and above, a line feed) reach md5 unchanged;
# md5sum is the oracle.
bytes=$'\xff \x80\n\x01'
expected="+OK $(printf '%s' "$bytes" | md5sum | cut -c1-32)"
expect 0 '' --hex md5 "$(printf '%s' "$bytes" | hex_of)"
[ "$out" = "$expected" ] || fail "--hex md5: '$out', expected '$expected'"
batch "md5 $(printf '%s' "$bytes" | hex_of | tr a-f A-F)"$'\n' --hex --batch
[ "$out" = "$expected" ] || fail "--hex --batch md5 (upper-case digits): '$out', expected '$expected'"

# --hex-reply: the reply bytes as od shows them. A wrong key decrypts to arbitrary
# bytes, which is what --hex-reply is for.
expect 0 '' blowfish 'encrypt secret Hello, world'
cipher=${out#+OK }
for request in "decrypt secret $cipher" "decrypt wrong-key $cipher" 'encrypt'; do
  "${host_command[@]}" blowfish "$request" >"$work/plain"
  plain_hex=$(head -c -1 "$work/plain" | hex_of)
  expect 0 '' --hex-reply blowfish "$request"
  [ "$out" = "$plain_hex" ] || fail "--hex-reply blowfish '$request': '$out', expected '$plain_hex'"
  [[ "$out" =~ ^[0-9a-f]+$ ]] || fail "--hex-reply printed more than lower-case hex digits: '$out'"
done
expect 0 '' --hex --hex-reply blowfish "$(printf 'decrypt secret %s' "$cipher" | hex_of)"
[ "$out" = "$(printf '+OK Hello, world' | hex_of)" ] || fail "--hex --hex-reply round trip gave '$out'"

# A library that breaks the buffer contract: its two exports are listed with the
# ordinals of its own export table on Windows (no ordinals in ELF: lupex.def's
# numbers), and its replies are refused with status 3.
expect 0 '' --library "$rogue" --list
case "${host_command[-1]}" in
  *.exe) listed=$'1 blowfish\n2 md5' ;;
  *) listed=$'3 blowfish\n5 md5' ;;
esac
[ "$out" = "$listed" ] || fail "--list of the rogue library printed '$out', expected '$listed'"
expect 3 "ran past the end of the buffer" --library "$rogue" md5 abc
expect 3 "no terminator" --library "$rogue" blowfish abc

if [ "$failures" -ne 0 ]; then
  echo "host: $failures check(s) failed"
  exit 1
fi
echo "host: options, exit statuses, messages, hex input and output, guard checks as expected"
