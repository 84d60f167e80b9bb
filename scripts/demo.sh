#!/usr/bin/env bash
# The main job: builds the native library and host, then makes a few calls through
# the host as a scripting user would.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --native
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null
host=build/release/lupex-host

show() { printf '%-10s %-40s -> ' "$1" "'$2'"; "$host" "$1" "$2"; }
show dllinfo ''
show md5 'abc'
show md5 ''
cipher=$("$host" blowfish 'encrypt secret Meet me at the usual place.')
show blowfish 'encrypt secret Meet me at the usual place.'
show blowfish "decrypt secret ${cipher#+OK }"
printf '%-10s %-40s -> ' blowfish "'decrypt wrong-key ...' (reply in hex)"; "$host" --hex-reply blowfish "decrypt wrong-key ${cipher#+OK }"
show blowfish 'encpass my password'
show blowfish 'encrypt secret'
show blowfish 'shuffle secret text'
