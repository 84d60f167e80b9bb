#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for the whole build and test run:
# MinGW-w64 for both Windows targets, Wine for the 64-bit one, 32-bit x86 libraries
# and qemu-user for the 32-bit Linux tests, zip, unzip, dpkg-dev and pkgconf for the
# release packages.
# Installs only what is missing, so it is cheap to run again. Needs root (or sudo)
# when something is missing. --native: only what the library and host need; --package:
# only what scripts/package.sh needs; --bench: only what scripts/bench.sh needs.
set -euo pipefail

packages=(
  cmake g++ clang libgtest-dev googletest libbenchmark-dev libssl-dev valgrind
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 g++-multilib qemu-user
  libclang-rt-14-dev
  zip unzip dpkg-dev pkgconf
)
case "${1:-}" in
  --native) packages=(cmake g++) ;;
  --package) packages=(cmake g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64
                       binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 zip dpkg-dev) ;;
  --bench) packages=(cmake g++ libbenchmark-dev libssl-dev) ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
