# The C API's function names as lupex.h declares them, for the checks of the Windows
# DLL that carries it: after `source api_names.sh`, `lupex_api_names HEADER` prints
# the lupex_ functions declared with LUPEX_API, sorted, one per line. Comments and
# preprocessor lines are dropped and the rest is cut at each ';' into one declaration
# a line; a function's name is the lupex_ identifier in front of its first '('.
lupex_api_names() {
  grep -v '^ *#' "$1" | tr '\n' ' ' |
    sed 's:/\*[^*]*\*\+\([^/*][^*]*\*\+\)*/::g' | tr ';' '\n' |
    grep -E '(^|[^A-Za-z0-9_])LUPEX_API[^A-Za-z0-9_]' |
    sed -nE 's/^[^(]*[^A-Za-z0-9_](lupex_[A-Za-z0-9_]+) *\(.*/\1/p' | LC_ALL=C sort
}
