#!/usr/bin/env bash
# Sends every request of a reply table through the host program in one batch run and
# compares each reply line with the table, byte for byte.
# usage: host_replies.sh TABLE [EMULATOR] HOST
set -euo pipefail
table=$1; shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Fields hold \xHH escapes only; printf %b turns them into bytes.
# Split at tabs by hand: read would fold the two tabs around an empty request.
tab=$'\t'
while IFS= read -r line; do
  case "$line" in ''|'#'*) continue ;; esac
  procedure=${line%%"$tab"*}; rest=${line#*"$tab"}
  request=${rest%%"$tab"*}; reply=${rest#*"$tab"}
  printf '%s %b\n' "$procedure" "$request" >>"$work/requests"
  printf '%b\n' "$reply" >>"$work/expected"
done <"$table"
"$@" --batch <"$work/requests" >"$work/lines"
# A reply holding control bytes comes as an escaped line, "\" and the escapes of
# printf %b; the table holds the bytes.
while IFS= read -r line; do
  case $line in
    '\'*) printf '%b\n' "${line#\\}" ;;
    *) printf '%s\n' "$line" ;;
  esac
done <"$work/lines" >"$work/actual"
if ! cmp -s "$work/expected" "$work/actual"; then
  echo "host replies differ from $table:"
  diff -a "$work/expected" "$work/actual" | head -40
  exit 1
fi
echo "host replies: $(wc -l <"$work/expected") requests, all replies as expected"
