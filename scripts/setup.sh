#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for the whole build and test run:
# MinGW-w64 for both Windows targets, 64-bit and 32-bit Wine to run their programs,
# 32-bit x86 libraries and qemu-user for the 32-bit Linux tests, zip and unzip for
# the release packages, dpkg-dev, debhelper and dh-python to build the Debian packages
# (with googletest, libssl-dev, python3-pytest and pkgconf for the tests the Debian
# build runs), lintian, pkgconf and man-db (the manual page at 80 columns) for their test, faketime for the reproducibility
# check, Debian's llvm for lupex.lib (llvm-dlltool) and
# clang-cl and lld-link for the programs built in MSVC mode, Debian's python3 and
# pytest for the Python module's tests and the wheel package (python3-wheel-whl) to
# build its wheel offline, and Debian's C and C++ libraries and
# binutils for s390x and 64-bit ARM, which clang builds the unit tests against for
# qemu-s390x and qemu-aarch64 (Debian's own cross g++ packages conflict with
# g++-multilib: installing one removes the other).
# Where the kernel cannot run 32-bit x86 programs, 32-bit Wine runs under qemu-i386
# from bookworm-backports (scripts/wine-run.sh starts it so). Beyond installing
# packages it changes only this, and says each change as it makes it (README.md):
# the i386 architecture, and on such a kernel an apt source file for
# bookworm-backports, with qemu-user from there. Does only what is missing, so
# it is cheap to run again (nothing is installed or changed when all is there). Needs
# root (or sudo) when something is missing. Fails, with a message that says why,
# where 32-bit Wine cannot be had. --native: only what the library and host need;
# --package: only what scripts/package.sh needs; --bench: only what scripts/bench.sh
# needs.
[ -n "${BASH_VERSION:-}" ] || { echo "$0: a bash script: run it as bash $0" >&2; exit 2; }
set -euo pipefail

packages=(
  cmake g++ clang libgtest-dev googletest libbenchmark-dev libssl-dev valgrind
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 wine32:i386 g++-multilib qemu-user
  libclang-rt-14-dev
  clang-tools-14 lld-14 llvm-14
  libstdc++-12-dev-s390x-cross binutils-s390x-linux-gnu
  libstdc++-12-dev-arm64-cross binutils-aarch64-linux-gnu
  zip unzip dpkg-dev debhelper dh-python lintian pkgconf man-db faketime
  python3 python3-pytest python3-wheel-whl
)
wine32=1
case "${1:-}" in
  --native) packages=(cmake g++) wine32= ;;
  --package) packages=(cmake g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64
                       binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 zip dpkg-dev debhelper dh-python python3
                       llvm-14 googletest libssl-dev python3-pytest pkgconf) wine32= ;;
  --bench) packages=(cmake g++ libbenchmark-dev libssl-dev python3) wine32= ;;
esac

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -ne 0 ]; then
  echo "setup: installing ${missing[*]}"
  # wine32:i386 comes from the i386 package lists, which apt fetches once the
  # architecture is added.
  if [ -n "$wine32" ] && [[ " $(dpkg --print-foreign-architectures | tr '\n' ' ') " != *" i386 "* ]]; then
    echo "setup: adding the i386 architecture for wine32:i386"
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  if ! $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    if [[ " ${missing[*]} " == *" wine32:i386 "* ]]; then
      echo "setup: FAILED to install ${missing[*]}." >&2
      echo "setup: wine32:i386 shares Multi-Arch: same libraries with the amd64 packages, and" >&2
      echo "setup: both sides must have the same version: apt upgrades the amd64 side to match" >&2
      echo "setup: only when it has fetched both the amd64 and the i386 package lists. Check" >&2
      echo "setup: that 'apt-get update' fetched the i386 lists of every source without errors." >&2
    fi
    exit 1
  fi
fi

[ -n "$wine32" ] || exit 0

# 32-bit Wine: its loader is a 32-bit x86 Linux program. Most kernels run it
# natively; where one does not, qemu-i386 runs it.
wine32_loader=/usr/lib/wine/wine
wine32_runs() { "$wine32_loader" --version >/dev/null 2>&1; }
wine32_runs && exit 0

# Whether the kernel (or an emulator already registered) runs a 32-bit x86 program
# at all, or only Wine fails.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'int main(void) { return 0; }\n' >"$work/probe.c"
gcc -m32 -static -o "$work/probe" "$work/probe.c" ||
  { echo "setup: FAILED: cannot build a 32-bit x86 program (g++-multilib)" >&2; exit 1; }
if "$work/probe" 2>/dev/null; then
  echo "setup: FAILED: 32-bit programs run here, but $wine32_loader --version does not:" >&2
  "$wine32_loader" --version >&2 || true
  exit 1
fi

echo "setup: this kernel does not run 32-bit x86 programs; setting up qemu-i386 for them"
# Debian 12's own qemu-user needs about a minute of CPU to start each 32-bit Wine
# process; the one in bookworm-backports (static binaries) starts one in about a
# second. The suite comes from the same Debian registry, in a file of its own.
backports=/etc/apt/sources.list.d/lupex-bookworm-backports.sources
if [[ "$(apt-cache policy qemu-user)" != *bookworm-backports* ]]; then
  if [ ! -f "$backports" ]; then
    echo "setup: writing $backports (the bookworm-backports suite, for qemu-user)"
    mirror=$(awk '/^URIs:/ && $2 ~ /\/debian\/?$/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
    mirror=${mirror:-http://deb.debian.org/debian}
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nArchitectures: amd64\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$mirror" | $sudo tee "$backports" >/dev/null
  fi
  $sudo apt-get update -q
fi
qemu_version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
if [[ "$qemu_version" != *bpo12* ]]; then
  echo "setup: installing qemu-user from bookworm-backports in place of ${qemu_version:-none}"
  $sudo apt-get install -y -q --no-install-recommends -t bookworm-backports qemu-user ||
    { echo "setup: FAILED to install qemu-user from bookworm-backports" >&2; exit 1; }
fi

# No binfmt_misc entry: scripts/wine-run.sh runs the 32-bit loader through
# qemu-i386 itself, and the 32-bit Linux tests name qemu-i386 as their emulator.
WINELOADERNOEXEC=1 qemu-i386 "$wine32_loader" --version >/dev/null 2>&1 ||
  { echo "setup: FAILED: $wine32_loader --version does not run under qemu-i386" >&2; exit 1; }
echo "setup: 32-bit Wine runs through qemu-i386 (scripts/wine-run.sh starts it so)"
