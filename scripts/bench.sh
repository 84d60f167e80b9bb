#!/usr/bin/env bash
# Builds the native library and the benchmark, then times every procedure beside its
# OpenSSL reference and prints the table of medians and paired ratios. Arguments go to
# the benchmark program (e.g. --benchmark_filter=md5 --benchmark_min_time=3); a run of
# every pair takes about half a minute. With --python instead: the Python module's
# one-shot and prepared-key encrypt of 100 bytes beside the same C API calls
# (bench/python_overhead.py, about ten seconds).
[ -n "${BASH_VERSION:-}" ] || { echo "$0: a bash script: run it as bash $0" >&2; exit 2; }
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --bench
cmake --preset bench >/dev/null
cmake --build --preset bench -j 2 --target lupex lupex_bench >/dev/null
if [ "${1:-}" = --python ]; then
  LUPEX_LIBRARY=$PWD/build/bench/liblupex.so PYTHONDONTWRITEBYTECODE=1 \
    exec /usr/bin/python3 bench/python_overhead.py build/bench/lupex_bench
fi
exec build/bench/lupex_bench "$@"
