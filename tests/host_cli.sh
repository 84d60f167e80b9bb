#!/usr/bin/env bash
# The host program's own behaviour: --help, --version, --list, usage errors and their
# one-line messages, "--", loading a library (where the host looks for it, and the
# messages when that fails), hex input and output, reply lines and their escape as
# any POSIX sh reads it, --fail, --batch (one line out for every line in, a file
# carried through encryption and back), output that cannot be written, the Windows
# host's encodings, and the guard checks against a library that breaks the buffer
# contract.
# usage: host_cli.sh VERSION ROGUE_LIBRARY [EMULATOR] HOST
set -uo pipefail
version=$1 rogue=$2
shift 2
# Absolute paths: some checks run the host in another folder.
rogue=$(realpath "$rogue")
host_command=()
for word in "$@"; do
  [ -e "$word" ] && word=$(realpath "$word")
  host_command+=("$word")
done
host_program=${host_command[-1]}
work=$(mktemp -d)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Under an emulator (Wine) every run of this script shares one prefix, unless the
# caller gives one: making a prefix takes seconds.
own_prefix=
if [ ${#host_command[@]} -gt 1 ] && [ -z "${LUPEX_WINEPREFIX:-}" ]; then
  export LUPEX_WINEPREFIX=$work/wine
  mkdir "$LUPEX_WINEPREFIX"
  own_prefix=1
fi
cleanup() {
  if [ -n "$own_prefix" ] && [ -d "$LUPEX_WINEPREFIX" ]; then
    wineserver=/usr/lib/wine/wineserver
    [ -x "$wineserver" ] || wineserver=wineserver
    WINEPREFIX=$LUPEX_WINEPREFIX "$wineserver" -k 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

case $host_program in
  *.exe) windows=1 library=$(dirname "$host_program")/lupex.dll ;;
  *) windows= library=$(dirname "$host_program")/liblupex.so ;;
esac
# An argument as the host quotes it in a suggested command.
quoted() { if [ -n "$windows" ]; then printf '"%s"' "$1"; else printf "'%s'" "$1"; fi; }

# host ARGS...: runs the host; leaves its exit status, stdout and stderr in status,
# out and err (stderr without CRs: it is a text stream on Windows). batch INPUT
# ARGS...: the same with INPUT on standard input; run_host ARGS...: the same with
# $work/in on standard input. The host runs in $cwd, with the variables of host_env
# added to its environment.
cwd=$PWD host_env=()
host() { batch '' "$@"; }
batch() {
  printf '%s' "$1" >"$work/in"
  shift
  run_host "$@"
}
run_host() {
  (cd "$cwd" && env "${host_env[@]}" "${host_command[@]}" "$@") <"$work/in" >"$work/out" 2>"$work/err"
  status=$?
  out=$(cat "$work/out") err=$(tr -d '\r' <"$work/err")
}
hex_of() { od -An -v -tx1 | tr -d ' \n'; }
# printf %b as a POSIX sh has it (dash: no bash extensions such as \xHH).
command -v dash >/dev/null || fail "dash is missing: the escaped reply lines are not checked in a POSIX sh"
posix_printf_b() { dash -c 'printf "%b" "$1"' dash "$1"; }
# The reply of md5 to the bytes that printf makes of FORMAT.
md5_of() { printf '+OK %s' "$(printf -- "$1" | md5sum | cut -c1-32)"; }
# A reply line as the reply's bytes: an escaped line (leading "\") through printf %b.
reply_bytes() {
  case $1 in
    '\'*) posix_printf_b "${1#\\}" ;;
    *) printf '%s' "$1" ;;
  esac
}

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
    [[ "$err" == *"$pattern"* ]] || fail "lupex-host $*: stderr '$err' lacks '$pattern'"
  fi
}

# Information options.
for option in --help -h; do
  expect 0 '' "$option"
  [[ "$out" == *"usage: lupex-host"*"examples:"* ]] || fail "$option: no usage and examples on stdout"
done
for topic in '  0  ' '  1  ' '  2  ' '  3  ' '  4  ' '  5  ' '  6  ' '-HOST' '\0ooo' 'process list' '--utf8' '--fail' \
             'standard output failed' 'encrypt-cbc' 'decrypt-cbc'; do
  [[ "$out" == *"$topic"* ]] || fail "--help does not tell of '$topic'"
done
# The examples are true where they are shown: this shell's quotes, this platform's
# library file, no --fail that seems to catch a wrong key (nothing can). Each one
# that needs no cipher text or file runs, the --library one in the library's folder.
examples=$(sed -n '/^examples:$/,/^$/p' <<<"$out")
if [ -n "$windows" ]; then
  [[ "$examples" != *"'"* && "$examples" != *.so* ]] || fail "--help's examples on Windows: $examples"
else
  [[ "$examples" != *.dll* ]] || fail "--help's examples on Linux: $examples"
fi
grep -- --fail <<<"$examples" | grep -q wrong && fail "--help shows --fail with a wrong key: $examples"
ran=0
while IFS= read -r line; do
  [[ "$line" == '  lupex-host '* && "$line" != *[\<\>]* && "$line" != *--batch* ]] || continue
  line=${line#  lupex-host }
  # cmd.exe reads a backslash as itself.
  [ -z "$windows" ] || line=${line//\\/\\\\}
  eval "words=($line)"
  want=0
  [[ "$line" == *--fail* ]] && want=4
  [[ "$line" == *--library* ]] && cwd=$(dirname "$library")
  host "${words[@]}"
  cwd=$PWD ran=$((ran + 1))
  [ "$status" = "$want" ] || fail "the example 'lupex-host $line': status $status, expected $want: $err"
done <<<"$examples"
[ "$ran" -ge 6 ] || fail "only $ran of --help's examples could be run"
expect 0 '' --version
[ "$out" = "lupex-host $version" ] || fail "--version printed '$out'"
expect 0 '' --list
[ "$out" = $'1 LoadDll\n2 UnloadDll\n3 blowfish\n4 dllinfo\n5 md5' ] || fail "--list printed '$out'"

# Usage errors: status 1, nothing on stdout, and one line on stderr that says what is
# wrong and what to do instead.
usage_error() {
  local pattern=$1
  shift
  expect 1 "$pattern" "$@"
  [ -z "$out" ] || fail "lupex-host $*: printed '$out' on stdout"
  [ "$(printf '%s\n' "$err" | wc -l)" = 1 ] || fail "lupex-host $*: more than one line on stderr: $err"
  [[ "$err" == *"(see lupex-host --help)" ]] || fail "lupex-host $*: stderr does not point at --help: $err"
}
usage_error "no procedure given: lupex-host PROCEDURE $(quoted BUFFER-TEXT)"
batch $'md5 abc\n'
[ "$status" = 1 ] && [[ "$err" == *"to read requests from standard input, use --batch"* ]] ||
  fail "a request on standard input without --batch: status $status, stderr '$err'"
usage_error 'unknown option --frobnicate' --frobnicate md5 abc
usage_error 'unknown option -v' -v md5
usage_error '--library needs the path' --library
usage_error "quote it, as in lupex-host blowfish $(quoted 'encrypt secret Hello')" \
  blowfish encrypt secret Hello
usage_error "quote it, as in lupex-host --hex md5 $(quoted '61 62')" --hex md5 61 62
# cmd.exe passes single quotes on: the hint for Windows leaves them out.
[ -z "$windows" ] || usage_error 'quote it, as in lupex-host blowfish "encrypt secret Hello"' \
  blowfish "'encrypt" secret "Hello'"
usage_error 'options go before it, as in lupex-host --hex md5 616263' md5 --hex 616263
usage_error 'options go before it, as in lupex-host --library x.so md5 abc' md5 --library x.so abc
usage_error 'options go before it, as in lupex-host -- md5 abc' md5 -- abc
if [ -n "$windows" ]; then piped='echo md5 abc| lupex-host --batch'; else piped="printf '%s\n' 'md5 abc' | lupex-host --batch"; fi
usage_error "standard input, one a line: $piped" --batch md5 abc
usage_error '--list takes no procedure' --list md5
usage_error '--batch and --list do not go together' --batch --list

# "--" ends the options; after the procedure everything is buffer text, dashes and all.
for args in '-- md5 -abc' 'md5 -abc' 'md5 --abc' 'md5 --' 'md5 --hex'; do
  read -ra words <<<"$args"
  expect 0 '' "${words[@]}"
  [ "$out" = "$(md5_of "${words[-1]}")" ] || fail "lupex-host $args: '$out'"
done
expect 0 '' --hex -- md5 616263
[ "$out" = "$(md5_of abc)" ] || fail "--hex -- md5 616263: '$out'"

# Failure replies exit 0, or 4 with --fail; the reply is printed either way, and with
# --fail also copied to stderr, so that a script stopped by set -e says why.
expect 0 '' blowfish 'shuffle secret text'
[ "$out" = '-FUNC Unknown subfunction' ] || fail "blowfish shuffle: '$out'"
for case in 'blowfish|shuffle secret text|-FUNC Unknown subfunction' \
            'md5||--STRING Enter a string to encrypt'; do
  IFS='|' read -r procedure text reply <<<"$case"
  expect 4 "$reply" --fail "$procedure" "$text"
  [ "$out" = "$reply" ] && [ "$err" = "lupex-host: $reply" ] ||
    fail "--fail $procedure '$text': stdout '$out', stderr '$err'"
done
expect 0 '' --fail md5 abc

# Only blowfish, md5 and dllinfo are procedures: any other name, an export of the
# library or not, is a usage error before anything is looked up or called.
procedures="the procedures are blowfish, md5 and dllinfo; --list shows the library's exports"
for name in nosuch lupex_md5 lupex_version lupex_encrypt blowfish_x; do
  usage_error "'$name' is not a procedure: $procedures" "$name" abc
done
usage_error "'MD5' is not a procedure: names are case-sensitive, the procedure is 'md5'" MD5 abc
usage_error "LoadDll is a lifecycle hook, not a procedure: $procedures" LoadDll ''
usage_error "UnloadDll is a lifecycle hook" UnloadDll 0

# Loading: a bare file name is a file in the current folder, and nothing else; a
# library that does not load says why in words.
mkdir "$work/folder"
names=("copy-of-$(basename "$library")")
# LoadLibrary would look for "name.dll": the host loads the file as named.
[ -z "$windows" ] || names+=(lupex-without-extension)
cwd=$work/folder
for name in "${names[@]}"; do
  cp "$library" "$work/folder/$name"
  expect 0 '' --library "$name" md5 abc
  [ "$out" = "$(md5_of abc)" ] || fail "--library $name in the current folder: '$out'"
done
cwd=$PWD
expect 2 "cannot load /nonexistent/lupex-library: not found" --library /nonexistent/lupex-library md5 abc
if [ -n "$windows" ]; then
  # A DLL of the other bitness: a copy of lupex.dll with the machine field of its PE
  # header set to the other x86 machine.
  cp "$library" "$work/other.dll"
  machine_at=$(($(od -An -tu4 -j60 -N4 "$work/other.dll" | tr -d ' ') + 4))
  if [ "$(od -An -tx2 -j$machine_at -N2 "$work/other.dll" | tr -d ' ')" = 8664 ]; then
    other=32 machine='\x4c\x01'
  else
    other=64 machine='\x64\x86'
  fi
  printf "$machine" | dd of="$work/other.dll" bs=1 seek=$machine_at conv=notrunc 2>/dev/null
  expect 2 "a $other-bit DLL: use the one for this host's bitness" --library "$work/other.dll" md5 abc
  cp "$0" "$work/script.dll"
  expect 2 "cannot load $work/script.dll: not a DLL" --library "$work/script.dll" md5 abc
  expect 2 "a folder, not a DLL" --library "$work/folder" md5 abc
  cwd=$work
  expect 2 "cannot load kernel32.dll: not found" --library kernel32.dll md5 abc
  cwd=$PWD
  system_library='C:\windows\system32\kernel32.dll'
else
  # The system's search would find libc.so.6; the current folder has none.
  cwd=$work
  expect 2 "cannot load libc.so.6: not found" --library libc.so.6 --list
  cwd=$PWD
  # A Windows DLL given to the Linux host.
  printf 'MZ\x90\x00' >"$work/lupex.dll"
  expect 2 "cannot load $work/lupex.dll: a Windows DLL: on Linux load liblupex.so" \
    --library "$work/lupex.dll" md5 abc
  system_library=$(ldd "$host_program" 2>/dev/null | awk '$1 ~ /^libc\.so/ {print $3}')
fi

# Without --library the POSIX host looks for the SONAME and the development name
# beside itself (a build tree), then in the library folder of its install, then
# asks the dynamic linker for the SONAME; never in the current folder. Each case: the
# host copied to bin/ of an empty folder, the files put there (copies of the library,
# or of the rogue one as a decoy that must not be loaded), LD_LIBRARY_PATH, and what
# the host must do.
if [ -z "$windows" ]; then
  soname=$(objdump -p "$library" | awk '$1 == "SONAME" {print $2}')
  libdir=${LUPEX_LIBDIR_FROM_BINDIR:?the library folder of an install, relative to its bin/}
  [ -n "$soname" ] || fail "$library has no SONAME"
  saved_command=("${host_command[@]}")
  n=0
  while IFS='|' read -r files ld_path outcome; do
    n=$((n + 1)) root=$work/search$n
    mkdir -p "$root/bin" "$root/cwd" "$root/ld"
    cp "$host_program" "$root/bin/"
    for file in $files; do
      source=$library
      [[ "$file" == rogue:* ]] && source=$rogue file=${file#rogue:}
      file=${file//SONAME/$soname} file=${file//LIBDIR/$libdir}
      mkdir -p "$(dirname "$root/$file")"
      cp "$source" "$root/$file"
    done
    host_command=("$root/bin/$(basename "$host_program")") cwd=$root/cwd
    host_env=()
    [ -z "$ld_path" ] || host_env=("LD_LIBRARY_PATH=$root/$ld_path")
    host md5 abc
    outcome=${outcome//ROOT/$root} outcome=${outcome//SONAME/$soname} outcome=${outcome//LIBDIR/$libdir}
    case $outcome in
      ok) [ "$status" = 0 ] && [ "$out" = "$(md5_of abc)" ] ||
            fail "library search with $files${ld_path:+, LD_LIBRARY_PATH=$ld_path}: status $status, '$out', '$err'" ;;
      *) [ "$status" = 2 ] && [[ "$err" == *"$outcome"* ]] ||
           fail "library search with $files${ld_path:+, LD_LIBRARY_PATH=$ld_path}: status $status, stderr '$err', expected '$outcome'" ;;
    esac
  done <<'EOF'
bin/SONAME||ok
bin/liblupex.so||ok
bin/SONAME rogue:bin/LIBDIR/SONAME||ok
bin/LIBDIR/SONAME||ok
bin/LIBDIR/liblupex.so||ok
ld/SONAME|ld|ok
rogue:ld/SONAME bin/LIBDIR/SONAME|ld|ok
cwd/SONAME cwd/liblupex.so||cannot load the library: no SONAME or liblupex.so in ROOT/bin/ or ROOT/bin/LIBDIR/; and the dynamic linker finds no SONAME
EOF
  host_command=("${saved_command[@]}") cwd=$PWD host_env=()

  # Its own location unreadable (no /proc in a mount namespace of its own): the host
  # says so, does not fall back on the current folder, and still asks the dynamic
  # linker. (A sanitizer's runtime itself needs /proc.)
  if [[ "$(ldd "$host_program" 2>/dev/null)" =~ lib(a|t|ub)san ]]; then
    echo "note: a sanitized host: the host without /proc/self/exe not checked"
  elif unshare -m true 2>/dev/null; then
    mkdir -p "$work/noproc/cwd" "$work/noproc/ld"
    cp "$library" "$work/noproc/cwd/liblupex.so"
    cp "$library" "$work/noproc/ld/$soname"
    for ld_path in '' "$work/noproc/ld"; do
      (cd "$work/noproc/cwd" && LD_LIBRARY_PATH=$ld_path unshare -m sh -c \
        'mount -t tmpfs none /proc && exec "$0" md5 abc' "$host_program") >"$work/out" 2>"$work/err"
      status=$? out=$(cat "$work/out") err=$(cat "$work/err")
      if [ -n "$ld_path" ]; then
        [ "$status" = 0 ] && [ "$out" = "$(md5_of abc)" ] ||
          fail "no /proc, LD_LIBRARY_PATH with $soname: status $status, '$out', '$err'"
      else
        [ "$status" = 2 ] && [[ "$err" == *"own location cannot be read"*"the dynamic linker finds no $soname"* ]] ||
          fail "no /proc, liblupex.so in the current folder: status $status, '$out', stderr '$err'"
      fi
    done
  else
    echo "note: no mount namespace (unshare -m): the host without /proc/self/exe not checked"
  fi
fi

# --list of a library that is not a lupex library, or not all of one, and a call
# into one: status 2, and the missing exports named.
if [ -n "$system_library" ]; then
  not_lupex="$system_library has none of the five exports (LoadDll, UnloadDll, blowfish, dllinfo, md5): not a lupex library"
  expect 2 "$not_lupex" --library "$system_library" --list
  [ -z "$out" ] || fail "--list of $system_library printed '$out'"
  expect 2 "$not_lupex" --library "$system_library" md5 abc
  [ -z "$out" ] || fail "md5 from $system_library printed '$out'"
  batch $'md5 abc\n' --library "$system_library" --batch
  [ "$status" = 2 ] && [ "$out" = "-HOST $not_lupex" ] ||
    fail "--batch with $system_library: status $status, stdout '$out'"
fi
expect 2 "$rogue has no export named 'dllinfo' (it lacks LoadDll, UnloadDll, dllinfo of the five" \
  --library "$rogue" dllinfo
# The rogue library has two of the five, listed with the ordinals of its own export
# table on Windows (no ordinals in ELF: lupex.def's numbers).
expect 2 "lacks the exports LoadDll, UnloadDll, dllinfo" --library "$rogue" --list
if [ -n "$windows" ]; then listed=$'1 blowfish\n2 md5'; else listed=$'3 blowfish\n5 md5'; fi
[ "$out" = "$listed" ] || fail "--list of the rogue library printed '$out', expected '$listed'"

# --hex: bytes a shell passes badly (0x80 and above, a line feed) reach md5 unchanged;
# md5sum is the oracle. Digits that are not hex, an odd count and a zero byte are
# refused with the reason.
bytes=$'\xff \x80\n\x01'
expected="+OK $(printf '%s' "$bytes" | md5sum | cut -c1-32)"
expect 0 '' --hex md5 "$(printf '%s' "$bytes" | hex_of)"
[ "$out" = "$expected" ] || fail "--hex md5: '$out', expected '$expected'"
batch "md5 $(printf '%s' "$bytes" | hex_of | tr a-f A-F)"$'\n' --hex --batch
[ "$out" = "$expected" ] || fail "--hex --batch md5 (upper-case digits): '$out', expected '$expected'"
expect 2 "'z' at position 5, which is not a hex digit" --hex md5 6162zz
expect 2 "an odd number of digits (3)" --hex md5 616
expect 2 "holds a zero byte (byte 2): the library would see only the bytes before it" \
  --hex md5 610062

# Reply lines. A decryption under a wrong key gives any bytes: this key and cipher
# text give a control byte, CR LF, and bytes of 0x80 and above.
wrong='decrypt wrong-12294 26FVP/Vur1q.7J5YR0oj5Ks1'
wrong_hex=2b4f4b20a17e2091cfeea88114bc0d0a25a5bed8
wrong_line=$(printf '\\+OK \xa1~ \x91\xcf\xee\xa8\x81\\0024\xbc\\r\\n%%\xa5\xbe\xd8')
expect 0 '' --hex-reply blowfish "$wrong"
[ "$out" = "$wrong_hex" ] || fail "--hex-reply blowfish '$wrong': '$out', expected '$wrong_hex'"
expect 0 '' blowfish "$wrong"
[ "$out" = "$wrong_line" ] || fail "blowfish '$wrong' printed '$out', expected '$wrong_line'"
# A reply without control bytes is printed as it is, backslashes too; with one, the
# backslashes are doubled. Every line gives the reply's bytes back (--hex-reply).
expect 0 '' blowfish 'encrypt secret back\slash'
slash=${out#+OK }
expect 0 '' blowfish "encrypt secret a\\b"$'\t'c
tab=${out#+OK }
for case in "decrypt secret $slash|+OK back\\slash" "decrypt secret $tab|\\+OK a\\\\b\\0011c" \
            "$wrong|$wrong_line" 'encrypt|-KEY Invalid Key'; do
  request=${case%|*} line=${case##*|}
  expect 0 '' blowfish "$request"
  [ "$out" = "$line" ] || fail "blowfish '$request' printed '$out', expected '$line'"
  expect 0 '' --hex-reply blowfish "$request"
  [ "$out" = "$(reply_bytes "$line" | hex_of)" ] ||
    fail "blowfish '$request': --hex-reply '$out' is not the bytes of the line '$line'"
  [[ "$out" =~ ^[0-9a-f]+$ ]] || fail "--hex-reply printed more than lower-case hex digits: '$out'"
done
expect 0 '' blowfish 'encrypt secret Hello, world'
cipher=${out#+OK }
expect 0 '' --hex --hex-reply blowfish "$(printf 'decrypt secret %s' "$cipher" | hex_of)"
[ "$out" = "$(printf '+OK Hello, world' | hex_of)" ] || fail "--hex --hex-reply round trip gave '$out'"

# --batch: exactly one line out for every line in, in order: an empty line, an unknown
# procedure, a reply holding CR LF, a request ending in CR LF, blanks only.
batch $'md5 abc\n\nfoo bar\nblowfish '"$wrong"$'\nmd5 abc\r\n   \nblowfish encrypt\ndllinfo\nmd5 last\n' --batch
{
  echo "+OK 900150983cd24fb0d6963f7d28e17f72"
  echo "-HOST empty line: a request is PROCEDURE and BUFFER-TEXT"
  echo "-HOST 'foo' is not a procedure: the procedures are blowfish, md5 and dllinfo; --list shows the library's exports"
  printf '%s\n' "$wrong_line"
  echo "+OK 900150983cd24fb0d6963f7d28e17f72"
  echo "-HOST blanks only: a request is PROCEDURE and BUFFER-TEXT"
  echo "-KEY Invalid Key"
  echo "+OK lupex.dll 20720 Blowfish text cipher and MD5 digest, provided as is without warranty"
  md5_of last; echo
} >"$work/nine"
cmp -s "$work/nine" "$work/out" || fail "--batch of the nine lines gave:
$(cat -A "$work/out")"
[ "$status" = 2 ] || fail "--batch of the nine lines: exit status $status, expected 2"
[ "$err" = "lupex-host: line 2: empty line: a request is PROCEDURE and BUFFER-TEXT
lupex-host: line 3: 'foo' is not a procedure: the procedures are blowfish, md5 and dllinfo; --list shows the library's exports
lupex-host: line 6: blanks only: a request is PROCEDURE and BUFFER-TEXT
lupex-host: 3 of 9 lines could not be called" ] || fail "--batch of the nine lines: stderr '$err'"

# Lines that cannot be called, each answered in its place; the batch goes on. Each
# case: the options, the line (as a printf format), and its reply line.
while IFS='|' read -r options line reply; do
  printf -- "$line"'\nmd5 616263\n' >"$work/in"
  run_host $options
  # The second line's text is hex digits with --hex.
  [[ "$options" == *--hex* ]] && second=abc || second=616263
  [ "$out" = "$reply"$'\n'"$(md5_of $second)" ] ||
    fail "lupex-host $options: the line '$line' got '$out', expected '$reply'"
  [ "$status" = 2 ] && [[ "$err" == "lupex-host: line 1: "*$'\nlupex-host: 1 of 2 lines could not be called' ]] ||
    fail "lupex-host $options: the line '$line': exit status $status, stderr '$err'"
done <<'EOF'
--batch|LoadDll x|-HOST LoadDll is a lifecycle hook, not a procedure: the procedures are blowfish, md5 and dllinfo; --list shows the library's exports
--batch|lupex_md5 x|-HOST 'lupex_md5' is not a procedure: the procedures are blowfish, md5 and dllinfo; --list shows the library's exports
--batch|Md5 x|-HOST 'Md5' is not a procedure: names are case-sensitive, the procedure is 'md5'
--batch| md5 abc|-HOST the line begins with a blank: the procedure name comes first
--batch|fo\001o bar|\-HOST 'fo\0001o' is not a procedure: the procedures are blowfish, md5 and dllinfo; --list shows the library's exports
--batch|md5 a\000b|-HOST the line holds a zero byte (byte 6): the library would see only the bytes before it
--hex --batch|md5 6162zz|-HOST the hex text holds 'z' at position 5, which is not a hex digit
--hex --batch|md5 610062|-HOST the hex text holds a zero byte (byte 2): the library would see only the bytes before it
--hex --batch|md5 616|-HOST the hex text has an odd number of digits (3): two digits make a byte
EOF
# A last line without a line feed is a line.
batch 'md5 abc' --batch
[ "$status" = 0 ] && [ "$out" = "$(md5_of abc)" ] || fail "--batch of a line without LF: $status '$out'"
# --fail: failure replies give 4, unless a line could not be called (2).
batch $'md5 abc\nblowfish x\n' --batch
[ "$status" = 0 ] || fail "--batch with a failure reply: exit status $status"
batch $'md5 abc\nblowfish x\n' --fail --batch
[ "$status" = 4 ] && [ "$err" = $'lupex-host: line 2: -FUNC Unknown subfunction\nlupex-host: 1 of 2 lines got a failure reply' ] ||
  fail "--fail --batch with a failure reply: exit status $status, stderr '$err'"
batch $'blowfish x\nfoo\n' --fail --batch
[ "$status" = 2 ] || fail "--fail --batch with a failure reply and a line not called: exit status $status"

# A file carried line by line through encryption and back, as a script does it: lines
# of up to 672 bytes, empty lines, inner and trailing blanks, tabs, backslashes,
# control bytes, bytes of 0x80 and above. An empty line's "-STRING Invalid String"
# becomes an empty decryption request, whose reply is the same.
{
  printf 'Hello, world\n\n\n'
  printf 'two  inner blanks and two trailing  \n'
  printf '\tbegins with a tab\n'
  printf 'caf\xc3\xa9 \xe9t\xe9 \xff\x80\n'
  printf 'back\\slash, \\n and \x01 \x1b[0m control bytes \x7f\n'
  printf '%672s\n' 'the longest text that one reply line holds' | tr ' ' '='
  printf '%671s\n' x | tr ' ' '-'
  printf '8 bytes.\nz\n\n'
  for byte in $(seq 1 255); do
    [ "$byte" = 10 ] || printf '%b' "\\x$(printf %02x "$byte")"
  done
  printf '\nthe last line\n'
} >"$work/plain"
# Both forms: ECB, and CBC ("encrypt-cbc", whose 752 bytes a line holds too).
for form in '' -cbc; do
  LC_ALL=C sed "s/^/blowfish encrypt$form file-key /" "$work/plain" >"$work/requests"
  "${host_command[@]}" --batch <"$work/requests" >"$work/cipher" 2>"$work/err" ||
    fail "--batch encrypt$form of a file: exit status $?: $(cat "$work/err")"
  LC_ALL=C sed -e 's/^+OK //' -e 's/^-STRING Invalid String$//' -e "s/^/blowfish decrypt$form file-key /" \
    "$work/cipher" >"$work/requests"
  "${host_command[@]}" --batch <"$work/requests" >"$work/replies" 2>"$work/err" ||
    fail "--batch decrypt$form of a file: exit status $?: $(cat "$work/err")"
  while IFS= read -r line; do
    case $line in
      '-STRING Invalid String') echo ;;
      '+OK '*) printf '%s\n' "${line#+OK }" ;;
      '\+OK '*) line=${line#\\}; posix_printf_b "${line#+OK }\n" ;;
      *) fail "decrypt$form of a file: reply '$line'" ;;
    esac
  done <"$work/replies" >"$work/decrypted"
  cmp "$work/plain" "$work/decrypted" || fail "a file through encrypt$form and decrypt$form by --batch came back changed"
  [ "$(wc -l <"$work/cipher")" = "$(wc -l <"$work/plain")" ] || fail "encryption gave $(wc -l <"$work/cipher") lines for $(wc -l <"$work/plain")"
done

# Encodings. Natively the shell's bytes pass unchanged, --utf8 or not. The Windows
# host reads the command line as wide characters: by default it passes the ANSI
# code page's bytes and refuses a character the code page cannot hold exactly, and
# --utf8 passes UTF-8. Wine takes the ANSI code page from the locale's language
# (C: 1252, ru_RU: 1251) and decodes its arguments in the locale's character set.
utf8_locale=$(locale -a 2>/dev/null | grep -i -m1 -x 'c\.utf-\?8')
if [ -z "$windows" ]; then
  for option in '' --utf8; do
    expect 0 '' $option md5 'é Ā ж'
    [ "$out" = "$(md5_of 'é Ā ж')" ] || fail "$option md5 'é Ā ж': '$out'"
  done
  expect 0 '' blowfish 'encrypt secret café'
  [ "$out" = '+OK .vklI.dfaDH0' ] || fail "blowfish 'encrypt secret café': '$out'"
elif [ -n "$utf8_locale" ]; then
  host_env=(LC_ALL=$utf8_locale)
  expect 0 '' md5 'é€'
  [ "$out" = "$(md5_of '\xe9\x80')" ] || fail "md5 'é€' in code page 1252: '$out'"
  expect 2 'holds U+0100, which the ANSI code page (1252) cannot hold exactly: --utf8 passes UTF-8 bytes' \
    md5 'aĀ'
  [ -z "$out" ] || fail "md5 'aĀ' printed '$out'"
  expect 2 'holds U+1F600, which the ANSI code page (1252)' md5 '😀'
  for text in 'é€' 'aĀ' 'ж' '😀'; do
    expect 0 '' --utf8 md5 "$text"
    [ "$out" = "$(md5_of "$text")" ] || fail "--utf8 md5 '$text': '$out'"
  done
  # The same cipher text as the Linux host gives for the same UTF-8 text.
  expect 0 '' --utf8 blowfish 'encrypt secret café'
  [ "$out" = '+OK .vklI.dfaDH0' ] || fail "--utf8 blowfish 'encrypt secret café': '$out'"
  mkdir "$work/locale"
  if localedef -i ru_RU -f UTF-8 "$work/locale/ru_RU.UTF-8" >/dev/null 2>&1; then
    host_env=(LOCPATH="$work/locale" LC_ALL=ru_RU.UTF-8)
    expect 0 '' md5 'ж'
    [ "$out" = "$(md5_of '\xe6')" ] || fail "md5 'ж' in code page 1251: '$out'"
    expect 2 'holds U+00E9, which the ANSI code page (1251)' md5 'é'
  else
    echo "note: no ru_RU locale could be made (localedef): code page 1251 not checked"
  fi
  host_env=()
else
  echo "note: no C.UTF-8 locale: the Windows host's encodings not checked"
fi

# Output that cannot be written is an error: status 5 and a message, for a single
# call, --batch, --list, --help and --version, to a full disk (/dev/full) and to a
# closed standard output; and a pipe whose reader has gone ends the host (POSIX: by
# SIGPIPE, as other tools; Windows: status 5). Under Wine the program gets the
# streams itself, not through wine-run.sh's copies.
write_fails() {
  local destination=$1
  shift
  printf 'md5 abc\n' >"$work/in"
  case $destination in
    full) (cd "$cwd" && LUPEX_WINE_DIRECT=1 "${host_command[@]}" "$@") <"$work/in" >/dev/full 2>"$work/err"
          status=$? ;;
    closed) (cd "$cwd" && LUPEX_WINE_DIRECT=1 "${host_command[@]}" "$@") <"$work/in" >&- 2>"$work/err"
            status=$? ;;
    # The reader is gone before the host, given its input late, writes a line.
    pipe) { sleep 1; cat "$work/in"; } | (cd "$cwd" && LUPEX_WINE_DIRECT=1 "${host_command[@]}" "$@") 2>"$work/err" | true
          status=${PIPESTATUS[1]} ;;
  esac
  err=$(tr -d '\r' <"$work/err")
}
for destination in full closed; do
  for args in 'md5 abc' '--hex-reply md5 abc' '--batch' '--fail --batch' '--list' '--help' '--version'; do
    read -ra words <<<"$args"
    write_fails "$destination" "${words[@]}"
    [ "$status" = 5 ] && [[ "$err" == "lupex-host: cannot write to standard output: "* ]] ||
      fail "lupex-host $args to a $destination standard output: status $status, stderr '$err'"
  done
done
write_fails pipe --batch
if [ -n "$windows" ]; then
  [ "$status" = 5 ] && [[ "$err" == "lupex-host: cannot write to standard output: "* ]] ||
    fail "--batch into a pipe whose reader has gone: status $status, stderr '$err'"
else
  [ "$status" = $((128 + 13)) ] || [ "$status" = 5 ] ||
    fail "--batch into a pipe whose reader has gone: status $status, expected SIGPIPE's $((128 + 13)) (or 5)"
fi

# Standard input that cannot be read (a folder, a closed descriptor) is no end of
# the input: status 6 and the reason. (Under Wine the program gets the stream itself.)
for source in folder closed; do
  case $source in
    folder) (cd "$cwd" && LUPEX_WINE_DIRECT=1 "${host_command[@]}" --batch) <"$work/folder" >"$work/out" 2>"$work/err" ;;
    closed) (cd "$cwd" && LUPEX_WINE_DIRECT=1 "${host_command[@]}" --batch) <&- >"$work/out" 2>"$work/err" ;;
  esac
  status=$? out=$(cat "$work/out") err=$(tr -d '\r' <"$work/err")
  [ "$status" = 6 ] && [ -z "$out" ] && [[ "$err" == "lupex-host: cannot read standard input: "* ]] ||
    fail "--batch from a $source standard input: status $status, stdout '$out', stderr '$err'"
done

# A library that breaks the buffer contract: its replies are refused with status 3.
# In --batch the line gets "-HOST ..." and no later line is read.
expect 3 "ran past the end of the buffer" --library "$rogue" md5 abc
[ -z "$out" ] || fail "a reply that ran past the buffer was printed: '$out'"
expect 3 "no terminator" --library "$rogue" blowfish abc
batch $'md5 abc\nmd5 abc\n' --library "$rogue" --batch
[ "$status" = 3 ] && [ "$out" = '-HOST the reply ran past the end of the buffer' ] &&
  [[ "$err" == "lupex-host: line 1: the reply ran past the end of the buffer; no later line is read" ]] ||
  fail "--batch with the rogue library: status $status, stdout '$out', stderr '$err'"

if [ "$failures" -ne 0 ]; then
  echo "host: $failures check(s) failed"
  exit 1
fi
echo "host: options, usage errors, loading, hex, reply lines, --fail, --batch, encodings, guard checks as expected"
