#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine, headless and quiet. A throw-away prefix
# is made once per test run (scripts/test.sh sets LUPEX_WINEPREFIX) or per call.
# Wine's own output goes to a file and is copied out afterwards: wineserver inherits
# the descriptors it is started with and would hold a pipe open long after the run.
set -u
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine || true)
[ -n "$wine" ] || { echo "wine-run: Wine is not installed (scripts/setup.sh installs it)" >&2; exit 127; }
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
own_prefix=
if [ -z "${LUPEX_WINEPREFIX:-}" ]; then
  LUPEX_WINEPREFIX=$(mktemp -d /tmp/lupex-wine.XXXXXX)
  own_prefix=1
fi
export WINEPREFIX=$LUPEX_WINEPREFIX
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init >"$WINEPREFIX/.boot.log" 2>&1 </dev/null
fi
out=$(mktemp /tmp/lupex-wine-out.XXXXXX)
err=$(mktemp /tmp/lupex-wine-err.XXXXXX)
"$wine" "$@" >"$out" 2>"$err"
rc=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
if [ -n "$own_prefix" ]; then
  WINEPREFIX=$LUPEX_WINEPREFIX "${wine%64}server" -k 2>/dev/null || true
  rm -rf "$LUPEX_WINEPREFIX"
fi
exit $rc
