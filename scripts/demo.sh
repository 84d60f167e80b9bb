#!/usr/bin/env bash
# The main job: builds the native library and host, then makes a few calls through
# the host as a scripting user would.
[ -n "${BASH_VERSION:-}" ] || { echo "$0: a bash script: run it as bash $0" >&2; exit 2; }
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
# The CBC form: a new random IV on every call, so the same text never gives the same
# cipher text twice.
cbc=$("$host" blowfish 'encrypt-cbc secret Meet me at the usual place.')
printf '%-10s %-40s -> %s\n' blowfish "'encrypt-cbc secret Meet me at the usual place.'" "$cbc"
show blowfish "decrypt-cbc secret ${cbc#+OK }"
show blowfish 'encpass my password'
show blowfish 'encrypt secret'
show blowfish 'shuffle secret text'
