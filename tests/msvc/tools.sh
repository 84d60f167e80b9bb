# Visual Studio's command-line tools in MSVC mode on this machine, for the tests: after
# `msvc_tools win32|win64 DIR`, the shell functions cl, link and lib take the command
# lines that Visual Studio's x86 or x64 prompt takes and run them with clang-cl,
# lld-link and llvm-dlltool (llvm-lib 14 cannot read a .def file; llvm-dlltool makes
# the same import library from one, for x64 only: see lib below). Backslashes in paths become slashes. There are no
# Visual Studio headers or C runtime here, so cl also gets /Zl (no default C runtime
# library), /GS- (no security cookie, which lives in that runtime) and /I for
# include/stdio.h and include/string.h, and link gets runtime.obj (the entry point,
# puts, a small printf and fprintf, strlen, memcpy and memset) and an import library
# for the KERNEL32.dll functions that runtime.obj calls.
# DIR receives those two files.
# usage: source tools.sh; msvc_tools win32|win64 DIR
msvc_source=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The first of the names that is installed (plain names, or Debian 12's -14 ones).
msvc_find() {
  local name
  for name in "$@"; do
    command -v "$name" && return 0
  done
  echo "FAIL: none of $* is installed (run scripts/setup.sh)" >&2
  return 1
}

msvc_tools() {
  local bits=$1
  msvc_dir=$2
  msvc_clang_cl=$(msvc_find clang-cl clang-cl-14) &&
    msvc_lld_link=$(msvc_find lld-link lld-link-14) &&
    msvc_dlltool=$(msvc_find llvm-dlltool llvm-dlltool-14) || return 1
  case $bits in
    win32) msvc_triple=i686-pc-windows-msvc msvc_machine=(-m i386 -k) msvc_def=kernel32-i686.def ;;
    win64) msvc_triple=x86_64-pc-windows-msvc msvc_machine=(-m i386:x86-64) msvc_def=kernel32.def ;;
    *) echo "msvc_tools: win32 or win64, not $bits" >&2; return 1 ;;
  esac
  mkdir -p "$msvc_dir" &&
    "$msvc_dlltool" "${msvc_machine[@]}" -d "$msvc_source/$msvc_def" -l "$msvc_dir/kernel32.lib" &&
    cl /nologo /c /W4 /WX /O2 /Oi- "/Fo$msvc_dir/runtime.obj" -- "$msvc_source/runtime.c"
}

msvc_paths() {
  local argument
  msvc_arguments=()
  for argument in "$@"; do msvc_arguments+=("${argument//\\//}"); done
}

cl() {
  msvc_paths "$@"
  "$msvc_clang_cl" "--target=$msvc_triple" /Zl /GS- "/I$msvc_source/include" "${msvc_arguments[@]}"
}

link() {
  msvc_paths "$@"
  "$msvc_lld_link" /subsystem:console /entry:lupex_test_entry \
    "${msvc_arguments[@]}" "$msvc_dir/runtime.obj" "$msvc_dir/kernel32.lib"
}

# lib /def:FILE /machine:x64 /out:FILE [/nologo]. Not for x86: there llvm-dlltool
# reads the decorated names of a .def file by MinGW's rules (-k), which are not lib's,
# so what it made would show nothing of how lib takes the file.
lib() {
  local def='' machine='' out='' argument
  msvc_paths "$@"
  for argument in "${msvc_arguments[@]}"; do
    case ${argument,,} in
      /def:*) def=${argument:5} ;;
      /machine:x86) echo "lib: /machine:x86 is not taken here: llvm-dlltool follows MinGW's rules for decorated names, not lib's" >&2
                    return 1 ;;
      /machine:x64) machine="-m i386:x86-64" ;;
      /out:*) out=${argument:5} ;;
      /nologo) ;;
      *) echo "lib: $argument is not taken here" >&2; return 1 ;;
    esac
  done
  [ -n "$def" ] && [ -n "$machine" ] && [ -n "$out" ] ||
    { echo "lib: /def:, /machine:x64 and /out: are needed" >&2; return 1; }
  # shellcheck disable=SC2086
  "$msvc_dlltool" $machine -d "$def" -l "$out"
}
