#!/usr/bin/env bash
# Runs one fuzz target for a bounded time, starting from a copy of its committed seed
# corpus (what it finds goes to the copy; the repository stays as it is). Its output
# goes to build/fuzz/logs/TARGET.log; a failing input is kept as
# build/fuzz/artifacts/TARGET-crash-... (replay it: build/fuzz/fuzz_TARGET FILE).
# usage: fuzz/run.sh TARGET SECONDS [LIBFUZZER-OPTION...]
# Build the targets first: cmake --preset fuzz && cmake --build --preset fuzz
set -uo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 2 ] || { echo "usage: fuzz/run.sh TARGET SECONDS [LIBFUZZER-OPTION...]" >&2; exit 1; }
target=$1 seconds=$2; shift 2
binary=build/fuzz/fuzz_$target
[ -x "$binary" ] && [ -d "fuzz/corpus/$target" ] ||
  { echo "fuzz: no target '$target' (build it: cmake --preset fuzz && cmake --build --preset fuzz)" >&2; exit 1; }

work=$(mktemp -d /tmp/lupex-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp -r "fuzz/corpus/$target" "$work/corpus"
mkdir -p build/fuzz/logs build/fuzz/artifacts
log=build/fuzz/logs/$target.log

"$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="build/fuzz/artifacts/$target-" "$@" "$work/corpus" >"$log" 2>&1
status=$?
if [ $status -eq 0 ]; then
  # The final coverage line and the run's statistics.
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log"
else
  tail -n 60 "$log"
  echo "fuzz: $target failed (exit status $status); full output in $log"
fi
exit $status
