#!/usr/bin/env bash
# Builds the release packages once more, from a copy of this tree (its files as they
# are, without .git, build/ and out/) in another folder, checked out and built under
# another umask, time zone and locale, with the clock a day and an hour ahead
# (faketime, where installed) and the Debian build's tests skipped (nocheck), then
# compares every file that scripts/package.sh made there, byte for byte, with the
# file of the same name among those given. SOURCE_DATE_EPOCH comes from this tree's
# last commit, as scripts/package.sh takes it. A user checks a release with it from
# a checkout of the release's tag: the release's zip and .deb files as FILEs (a file
# made but not given is named and not compared; one given but not made fails).
# usage: reproducible_test.sh FILE...   (e.g. the files scripts/package.sh printed)
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: reproducible_test.sh FILE..." >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
declare -A given
for file in "$@"; do
  [ -f "$file" ] || { echo "FAIL: $file is not a file"; exit 1; }
  given[$(basename "$file")]=$(realpath "$file")
done
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}

# Settings other than this shell's.
timezone=Pacific/Kiritimati locale=C.UTF-8
[ "${TZ:-}" != "$timezone" ] || timezone=America/Anchorage
[ "${LC_ALL:-${LANG:-}}" != "$locale" ] || locale=C
umask_other=077
[ "$(umask)" != 0077 ] || umask_other=002
clock=()
if command -v faketime >/dev/null; then
  clock=(faketime -f +25h)
fi

work=$(mktemp -d /tmp/lupex-rebuild.XXXXXX)
trap 'rm -rf "$work"' EXIT
copy=$work/another/folder/lupex
mkdir -p "$copy"
start=$SECONDS
(
  umask "$umask_other"
  tar -C "$root" --exclude=./.git --exclude=./build --exclude=./out --exclude=__pycache__ -cf - . |
    tar -C "$copy" --no-same-permissions -xf -
  cd "$copy"
  TZ=$timezone LC_ALL=$locale DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}" \
    "${clock[@]}" bash scripts/package.sh >"$work/made" 2>"$work/package.log"
) || { tail -40 "$work/package.log"; echo "FAIL: scripts/package.sh in $copy"; exit 1; }
settings="folder $copy, umask $umask_other, TZ=$timezone, LC_ALL=$locale, nocheck"
[ ${#clock[@]} -eq 0 ] && settings+=", the clock as it is (faketime is not installed)" ||
  settings+=", the clock 25 hours ahead"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# What differs inside two zips or two .debs: their listings, and each member's bytes.
explain() {
  local a=$1 b=$2 side
  case $a in
    *.zip)
      diff <(zipinfo -T "$a" | tail -n +2) <(zipinfo -T "$b" | tail -n +2) | head -20 || true
      for side in a b; do mkdir -p "$work/$side" && unzip -q -o "${!side}" -d "$work/$side"; done ;;
    *.deb)
      diff <(dpkg-deb -c "$a") <(dpkg-deb -c "$b") | head -20 || true
      for side in a b; do
        mkdir -p "$work/$side/data" "$work/$side/control"
        dpkg-deb -x "${!side}" "$work/$side/data" && dpkg-deb -e "${!side}" "$work/$side/control"
      done ;;
    *) return ;;
  esac
  diff -r -q "$work/a" "$work/b" | head -20 || true
  rm -rf "$work/a" "$work/b"
  if command -v diffoscope >/dev/null; then diffoscope "$a" "$b" | head -60 || true; fi
}
count=0
while IFS= read -r made; do
  name=$(basename "$made")
  count=$((count + 1))
  if [ -z "${given[$name]:-}" ]; then
    echo "reproducible: $name was made, but not given: not compared"
    count=$((count - 1))
  elif cmp -s "${given[$name]}" "$copy/$made"; then
    unset "given[$name]"
  else
    fail "$name differs from the one made with $settings:"
    explain "${given[$name]}" "$copy/$made"
    unset "given[$name]"
  fi
done <"$work/made"
for name in "${!given[@]}"; do fail "$name was not made again"; done

if [ "$failures" -ne 0 ]; then
  echo "reproducible: $failures of $count files differ"
  exit 1
fi
echo "reproducible: $count files byte for byte the same when made again in $((SECONDS - start)) s ($settings)"
