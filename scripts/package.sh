#!/usr/bin/env bash
# The release packages: for 32-bit and 64-bit Windows each, lupex.dll, lupex-host.exe,
# the import library liblupex.dll.a and the module definition lupex.def it is made
# from, and the static library liblupex_static.a (the C API's way in on Windows);
# lupex.lib, the import library for Visual Studio (made from lupex.def as well);
# liblupex-2.dll, the C API's DLL, with its import libraries liblupex-2.dll.a (MinGW)
# and liblupex-2.lib (Visual Studio); the header, README.md, LICENSE, CHANGELOG.md
# and SHA256SUMS; zipped into
# out/lupex-VERSION-windows.zip (one top folder of the same name), with
# wine-run.sh to run the Windows programs under Wine. And the Debian packages of
# the native build, out/liblupex2_VERSION_ARCH.deb, out/liblupex-dev_... and
# out/lupex-host_... and out/python3-lupex_VERSION_all.deb. Builds what it needs; prints the zip's path, then the
# Debian packages'.
[ -n "${BASH_VERSION:-}" ] || { echo "$0: a bash script: run it as bash $0" >&2; exit 2; }
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --package
# File times, and the time stamps that strip writes into the programs, come from the
# last commit, so that packaging the same build twice gives the same zip.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
version=$(sed -n 's/^project(lupex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=lupex-$version-windows
stage=out/$name
rm -rf "$stage" "$stage.zip"
mkdir -p "$stage/include"
for target in win32:i686 win64:x86_64; do
  preset=${target%:*} arch=${target#*:}
  cmake --preset "$preset" >/dev/null
  # The DLLs are linked anew here: the linker and strip write SOURCE_DATE_EPOCH into them
  # as their time stamps, where a DLL left by a build without it carries that build's
  # hour.
  rm -f "build/$preset/lupex.dll" "build/$preset/liblupex-2.dll"
  cmake --build --preset "$preset" -j "$(nproc)" --target lupex lupex_api_dll lupex-host lupex_static >/dev/null
  mkdir -p "$stage/$preset"
  # The build strips the DLL itself (its symbols stay in lupex.dll.debug, which does
  # not ship). The host loses its symbol table, most of its size.
  cp "build/$preset/"{lupex.dll,liblupex.dll.a,lupex.def} "$stage/$preset/"
  # The import library for Visual Studio's linker.
  cp "build/$preset/lupex.lib" "$stage/$preset/"
  # The C API's DLL (stripped by the build as well) and its two import libraries.
  cp "build/$preset/"liblupex-[0-9]*.{dll,dll.a,lib} "$stage/$preset/"
  "$arch-w64-mingw32-strip" -o "$stage/$preset/lupex-host.exe" "build/$preset/lupex-host.exe"
  # The static library without its debug information; -D keeps the archive free of
  # time stamps.
  "$arch-w64-mingw32-strip" -g -D -o "$stage/$preset/liblupex_static.a" "build/$preset/liblupex_static.a"
done
cp include/lupex.h "$stage/include/"
cp README.md LICENSE CHANGELOG.md scripts/wine-run.sh "$stage/"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
# The zip keeps each file's mode and time. Modes as a umask of 022 gives them, whatever
# the umask of the checkout and of this build; zip writes the times as local time, so
# it runs in UTC; -X leaves out the owner's ids.
chmod -R u=rwX,go=rX "$stage"
find "$stage" -exec touch -d "@$SOURCE_DATE_EPOCH" {} +
(cd out && find "$name" | LC_ALL=C sort | TZ=UTC zip -qX -@ "$name.zip")
echo "out/$name.zip"

# The Debian packages (debian/): liblupex2, liblupex-dev, lupex-host and
# python3-lupex, built by
# dpkg-buildpackage as Debian builds them. It writes its results into the parent
# folder of the tree it builds, so it builds a copy of the tree in a folder of its
# own; only the four packages come out of it, into out/.
changelog_version=$(dpkg-parsechangelog -S Version)
[ "$changelog_version" = "$version" ] ||
  { echo "package: debian/changelog is at $changelog_version, CMakeLists.txt at $version" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/lupex-$version
mkdir "$tree"
tar -C . --exclude=./.git --exclude=./build --exclude=./out --exclude=__pycache__ -cf - . | tar -C "$tree" -xf -
# dpkg-deb gives the packaged files SOURCE_DATE_EPOCH as their time where they are
# newer, and keeps the time of an older one: a file left as the checkout made it
# would carry the hour of the checkout.
find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
start=$SECONDS
mkdir -p build
# noautodbgsym: no -dbgsym packages beside the four. The build runs the unit suite
# and the Python module's tests on what it built (DEB_BUILD_OPTIONS=nocheck skips
# them); ctest's summary is in the log.
if ! (cd "$tree" && DEB_BUILD_OPTIONS="noautodbgsym parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
        dpkg-buildpackage -b -us -uc) >build/dpkg-buildpackage.log 2>&1; then
  tail -40 build/dpkg-buildpackage.log >&2
  echo "package: dpkg-buildpackage failed (build/dpkg-buildpackage.log)" >&2
  exit 1
fi
echo "package: dpkg-buildpackage took $((SECONDS - start)) s" >>build/dpkg-buildpackage.log
debs=()
for package in liblupex2 liblupex-dev lupex-host python3-lupex; do
  rm -f out/"$package"_*.deb
  deb=$(cd "$work" && ls "$package"_"$version"_*.deb)
  mv "$work/$deb" out/
  debs+=("out/$deb")
done
printf '%s\n' "${debs[@]}"
