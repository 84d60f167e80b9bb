#!/usr/bin/env bash
# The request table as C, for test programs that carry no file reader (those built in
# MSVC mode have no C runtime): one {procedure, request, reply} row per table line, the
# table's \xHH escapes written as octal escapes (a hex escape would run on into a
# following hex digit), '\' and '"' escaped.
# usage: replies_c_table.sh TABLE.tsv >replies_table.h
set -euo pipefail
echo "/* Made from $(basename "$1") by tests/replies_c_table.sh. */"
echo "static const struct { const char *procedure, *request, *reply; } replies_table[] = {"
LC_ALL=C awk -F'\t' '
  function c_string(field,    out, i, ch, hex) {
    out = ""
    for (i = 1; i <= length(field); i++) {
      ch = substr(field, i, 1)
      if (ch == "\\" && substr(field, i + 1, 1) == "x") {
        hex = tolower(substr(field, i + 2, 2))
        out = out sprintf("\\%03o", index("0123456789abcdef", substr(hex, 1, 1)) * 16 - 16 + index("0123456789abcdef", substr(hex, 2, 1)) - 1)
        i += 3
      } else if (ch == "\\" || ch == "\"") {
        out = out "\\" ch
      } else {
        out = out ch
      }
    }
    return "\"" out "\""
  }
  /^#/ || NF == 0 { next }
  { printf "    {%s, %s, %s},\n", c_string($1), c_string($2), c_string($3) }
' "$1"
echo "};"
