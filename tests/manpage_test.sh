#!/usr/bin/env bash
# The manual page lupex-host(1) as a reader sees it: rendered at 80 columns by man
# (MANWIDTH=80), or by groff where man is missing, no line is wider than 80 columns,
# and its words are those of the host's --help, in the same order (the page's NAME
# line, headings, header and footer aside; --help's "usage:" and topic lines aside).
# usage: manpage_test.sh PAGE HOST
set -uo pipefail
page=$1 host=$2
export LC_ALL=C.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

case $page in *.gz) gzip -dc "$page" >"$work/page.1" ;; *) cp "$page" "$work/page.1" ;; esac
if command -v man >/dev/null; then
  MANWIDTH=80 MAN_KEEP_FORMATTING= man -l "$work/page.1" 2>"$work/err" >"$work/shown"
elif command -v groff >/dev/null; then
  groff -man -Tutf8 -rLL=80n "$work/page.1" 2>"$work/err" | sed 's/.\x08//g' >"$work/shown"
else
  echo "FAIL: neither man nor groff is installed (Debian: man-db, groff-base)"
  exit 1
fi
[ ! -s "$work/err" ] || fail "the page gives warnings: $(cat "$work/err")"
[ "$(wc -l <"$work/shown")" -gt 40 ] || fail "the page renders as $(wc -l <"$work/shown") lines"
wide=0
while IFS= read -r line; do
  [ "${#line}" -le 80 ] || { wide=$((wide + 1)); echo "    ${#line}: $line"; }
done <"$work/shown"
[ "$wide" = 0 ] || fail "$wide lines of the page are wider than 80 columns"

# Words, one a line: of the page without its header and footer (first and last
# lines), headings (lines not indented) and the NAME section's line; of --help
# without "usage:" and the topic lines.
sed -e '1d' -e '$d' "$work/shown" |
  awk '/^[^ ]/ { name = ($0 == "NAME"); next } !name' | tr -s ' \n' '\n\n' | sed '/^$/d' >"$work/page-words"
"$host" --help | sed -e 's/^usage: //' | grep -vE '^[a-z][a-z ]*:$' | tr -s ' \n' '\n\n' |
  sed '/^$/d' >"$work/help-words"
cmp -s "$work/help-words" "$work/page-words" ||
  fail "the page's words differ from --help's:
$(diff "$work/help-words" "$work/page-words" | head -20)"

if [ "$failures" -ne 0 ]; then
  echo "lupex-host(1): $failures check(s) failed"
  exit 1
fi
echo "lupex-host(1): $(wc -l <"$work/shown") lines at 80 columns, none wider, the words of --help"
