#!/usr/bin/env bash
# Every test, on a fresh machine too: installs what is missing, then builds and runs
# the suite in each configuration. Ends with one line "stages: N passed, N failed"
# counting the stages below; any failed stage makes the exit status non-zero.
[ -n "${BASH_VERSION:-}" ] || { echo "$0: a bash script: run it as bash $0" >&2; exit 2; }
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
passed=0 failed=0 failed_names=()

stage() {
  local name=$1; shift
  echo
  echo "=== $name"
  local start=$SECONDS
  if "$@"; then
    passed=$((passed + 1)); echo "=== $name: passed ($((SECONDS - start)) s)"
  else
    failed=$((failed + 1)); failed_names+=("$name"); echo "=== $name: FAILED ($((SECONDS - start)) s)"
  fi
}

build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs" "${@:2}" >/dev/null; }
# The tests of one configuration run two at a time (one per core): the unit suite
# beside the host's and the package's own checks.
run_ctest() { ctest --preset "$1" --timeout 600 -j "$jobs"; }

native() { build native && run_ctest native; }
i386() { build i386 --target lupex_tests lupex-host lupex_static && run_ctest i386; }
dll_checks() {
  bash tests/windows_exports.sh "$@" && bash tests/windows_lean.sh "$@" && bash tests/windows_resource.sh "$@"
}
# The C API's DLL: its exports against lupex.h, and the same lean DLL checks.
api_dll_checks() { bash tests/windows_api_exports.sh "$@" && bash tests/windows_lean.sh "$@"; }
# The same unit suite with clang++ (Release) and with g++ at -O0 (Debug): the stack
# clear and everything else hold whatever the compiler and the optimisation.
clang_release() { build clang && run_ctest clang; }
gcc_debug() { build debug && run_ctest debug; }
# The unit suite and the request table for big-endian s390x and for 64-bit ARM under
# qemu-user.
s390x() { build s390x && run_ctest s390x; }
aarch64() { build aarch64 && run_ctest aarch64; }
# The 32-bit DLL from a plain toolchain file that calls the processor x86.
win32_x86() { bash tests/windows_toolchain.sh x86 build/win32-x86 build/win32/lupex.dll; }
win32() {
  build win32 && dll_checks build/win32/lupex.dll i686 && api_dll_checks build/win32/liblupex-2.dll i686 &&
    run_ctest win32
}
win64() {
  build win64 && dll_checks build/win64/lupex.dll x86_64 && api_dll_checks build/win64/liblupex-2.dll x86_64 &&
    run_ctest win64
}
package_made=
package() {
  local made
  made=$(bash scripts/package.sh) && echo "$made" && package_made=$made &&
    bash tests/package_test.sh "$(sed -n 1p <<<"$made")" &&
    bash tests/debian_package_test.sh $(sed -n '2,$p' <<<"$made")
}
# Every file that the package stage made, made again from a copy of the tree
# elsewhere and under other settings (tests/reproducible_test.sh): byte for byte the
# same.
reproducible() {
  [ -n "$package_made" ] || { echo "no packages: the package stage made none"; return 1; }
  bash tests/reproducible_test.sh $package_made
}
# The Python module (python/lupex) under Debian's python3 and pytest, against the
# native build's library.
python_module() {
  build native &&
    LUPEX_LIBRARY=$PWD/build/native/liblupex.so PYTHONDONTWRITEBYTECODE=1 \
      /usr/bin/python3 -m pytest -q -rs -p no:cacheprovider tests/python
}
# The Python module as pip installs it: the sdist, the wheel built from it with the
# library inside (the native build's, byte for byte), pytest against that wheel in a
# fresh virtual environment of the python3 on PATH, and its uninstall.
python_wheel() { build native --target lupex && bash tests/python_wheel.sh python3 build/native/liblupex.so.2; }
# What the README tells a user to do, as it shows it; its host examples also with both
# Windows hosts of the release package under Wine.
readme() {
  local version
  version=$(sed -n 's/^project(lupex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  bash tests/readme_test.sh README.md --wine "out/lupex-$version-windows"
}
# The unit suite and the host's run of the request table with the library built under
# AddressSanitizer and UndefinedBehaviorSanitizer, then under ThreadSanitizer.
asan() { build asan && run_ctest asan; }
tsan() { build tsan && run_ctest tsan; }
# The Release build, as it ships, under valgrind memcheck: the unit suite, and the host
# with the shared library answering the request table in one batch run. Any memory
# error, and any byte not freed at exit, fails.
memcheck() {
  local valgrind=(valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=all
                  --errors-for-leak-kinds=all --track-origins=yes)
  build native &&
    "${valgrind[@]}" build/native/lupex_tests --gtest_brief=1 &&
    bash tests/host_replies.sh tests/data/replies.tsv "${valgrind[@]}" build/native/lupex-host
}
# Each fuzz target for a bounded time from a copy of its seed corpus (fuzz/run.sh),
# short enough to keep the whole run well under 15 minutes; longer runs are separate.
fuzz_seconds=${LUPEX_FUZZ_SECONDS:-10}
# The targets run side by side, one per core, each for the whole of its time: each
# prints only its statistics (or its failure) when it ends.
fuzz_side_by_side() {
  local pids=() status=0 target pid
  for target in "$@"; do
    bash fuzz/run.sh "$target" "$fuzz_seconds" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  return $status
}

# One throw-away Wine prefix for the whole run (scripts/wine-run.sh uses it).
LUPEX_WINEPREFIX=$(mktemp -d /tmp/lupex-wine.XXXXXX)
export LUPEX_WINEPREFIX
remove_wine_prefix() {
  WINEPREFIX=$LUPEX_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null
  rm -rf "$LUPEX_WINEPREFIX"
}
trap remove_wine_prefix EXIT

stage setup bash scripts/setup.sh
stage "native build and tests" native
stage "Python module: pytest against the native library" python_module
stage "Python wheel: pip builds it from the sdist, pytest against it installed in a fresh venv" python_wheel
stage "32-bit x86 tests under qemu-i386" i386
stage "win32 lupex.dll and liblupex-2.dll: export, lean and version resource checks, tests under 32-bit Wine" win32
stage "win64 lupex.dll and liblupex-2.dll: export, lean and version resource checks, tests under Wine" win64
stage "lupex.h in MSVC mode: clang-cl /W4 /WX, C and C++, x86 and x64" bash tests/msvc_header.sh
stage "win32 lupex.dll from a toolchain file naming the processor x86: entry point, stdcall import names, size" win32_x86
stage "clang++ Release build and tests" clang_release
stage "g++ Debug (-O0) build and tests" gcc_debug
stage "big-endian s390x tests under qemu-s390x" s390x
stage "64-bit ARM tests under qemu-aarch64" aarch64
stage "release packages: scripts/package.sh, the zip and the Debian packages unpacked and checked" package
stage "release packages made again in another folder, umask, time zone, locale and hour: byte for byte the same" reproducible
stage "README: every command as shown, the host examples also under Wine" readme
stage "ASan+UBSan: unit tests and host request table" asan
stage "TSan: unit tests and host request table" tsan
stage "valgrind memcheck: unit tests and host request table (Release)" memcheck
stage "fuzz targets: build" build fuzz
fuzz_targets=()
for corpus in fuzz/corpus/*/; do fuzz_targets+=("$(basename "$corpus")"); done
for ((i = 0; i < ${#fuzz_targets[@]}; i += jobs)); do
  group=("${fuzz_targets[@]:i:jobs}")
  stage "fuzz ${group[*]} (${fuzz_seconds} s each, side by side)" fuzz_side_by_side "${group[@]}"
done

echo
[ $failed -eq 0 ] || echo "failed stages: ${failed_names[*]}"
echo "stages: $passed passed, $failed failed"
[ $failed -eq 0 ]
