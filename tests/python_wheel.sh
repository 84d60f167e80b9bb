#!/usr/bin/env bash
# The Python module as pip installs it, offline: the sdist of this tree, the wheel
# that pip builds from it (cmake, the release preset) and, in a fresh virtual
# environment of PYTHON, that wheel installed, the pytest suite run against it from
# outside the source tree with no LUPEX_LIBRARY, and its uninstall. Checks that the
# wheel carries liblupex.so.2, byte for byte the native build's (NATIVE_LIBRARY), and
# is tagged for this platform; that the module loads the library inside the
# environment; that uninstalling leaves the environment as it was; that a missing
# cmake or C++ compiler fails the build with a line that says so; and that
# `pip install` of the source folder, as the README shows it, works too.
# No build backend can be fetched: the builds use --no-build-isolation over the
# setuptools that the environment's ensurepip installs, with the wheel package from
# Debian's python3-wheel-whl. pytest is Debian's (python3-pytest and the packages it
# needs, all pure Python), put on PYTHONPATH by itself: the environment's python runs
# it, and imports lupex from its own site-packages.
# Prints the wheel's name and size and the times that pip takes.
# usage: python_wheel.sh PYTHON NATIVE_LIBRARY
set -uo pipefail
python=$1 native=$(realpath "$2")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/lupex-wheel.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# pip sees only what is given here: no configuration, no cache, no index.
unset PIP_FIND_LINKS PIP_INDEX_URL PIP_EXTRA_INDEX_URL LUPEX_LIBRARY
export PIP_CONFIG_FILE=/dev/null PIP_NO_CACHE_DIR=1 PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INDEX=1
version=$(sed -n 's/^project(lupex VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

wheel_package=$(ls /usr/share/python-wheels/wheel-*.whl 2>/dev/null | head -1)
[ -n "$wheel_package" ] || { echo "FAIL: no wheel package in /usr/share/python-wheels (python3-wheel-whl)"; exit 1; }

# The build environment: ensurepip's setuptools and Debian's wheel.
"$python" -m venv "$work/build-env" && "$work/build-env/bin/pip" install -q "$wheel_package" ||
  { echo "FAIL: no build environment of $python"; exit 1; }
build_python=$work/build-env/bin/python
"$build_python" -c 'import setuptools' 2>/dev/null ||
  { echo "FAIL: a venv of $python has no setuptools (ensurepip installs it up to Python 3.11)"; exit 1; }
pip_wheel=("$work/build-env/bin/pip" wheel -q --no-build-isolation --no-deps)

# The sdist, as `python -m build --sdist` makes it.
(cd "$root" && "$build_python" -c 'import sys; from setuptools import build_meta; build_meta.build_sdist(sys.argv[1])' \
   "$work/dist") >"$work/sdist.log" 2>&1 || { cat "$work/sdist.log"; echo "FAIL: no sdist"; exit 1; }
sdist=$work/dist/lupex-$version.tar.gz
[ -f "$sdist" ] || { ls "$work/dist"; echo "FAIL: no $sdist"; exit 1; }
listing=$(tar tzf "$sdist")
for file in CMakeLists.txt CMakePresets.json include/lupex.h plugin/api.cpp plugin/lupex.map \
            cipher/blowfish.cpp digest/md5_api.cpp host/CMakeLists.txt cmake/lupexConfig.cmake \
            python/lupex/__init__.py python/lupex/py.typed pyproject.toml setup.py LICENSE README.md; do
  grep -qx "lupex-$version/$file" <<<"$listing" || fail "the sdist has no $file"
done

# The wheel, built from the sdist alone.
start=$(now)
"${pip_wheel[@]}" -w "$work/dist" "$sdist" >"$work/wheel.log" 2>&1 || { cat "$work/wheel.log"; fail "pip wheel"; }
build_time=$(seconds "$start" "$(now)")
wheel=$work/dist/lupex-$version-py3-none-$("$build_python" -c 'import sysconfig; print(sysconfig.get_platform().replace("-", "_").replace(".", "_"))').whl
[ -f "$wheel" ] || { ls "$work/dist"; echo "FAIL: no $(basename "$wheel")"; exit 1; }
mkdir "$work/unpacked" && (cd "$work/unpacked" && "$build_python" -m zipfile -e "$wheel" .)
cmp "$work/unpacked/lupex/liblupex.so.2" "$native" ||
  fail "the wheel's liblupex.so.2 is not the native build's $native"
grep -qx "Root-Is-Purelib: false" "$work/unpacked/lupex-$version.dist-info/WHEEL" || fail "the wheel says it is pure"
for field in "Name: lupex" "Version: $version" "License: MIT" "Requires-Python: >=3.8"; do
  grep -qx "$field" "$work/unpacked/lupex-$version.dist-info/METADATA" || fail "METADATA has no '$field'"
done
echo "wheel: $(basename "$wheel"), $(stat -c %s "$wheel") bytes; pip wheel from the sdist: $build_time s"

# A fresh environment, the wheel installed into it.
"$python" -m venv "$work/env" || { echo "FAIL: no environment"; exit 1; }
env_python=$work/env/bin/python
(cd "$work/env" && find . | LC_ALL=C sort) >"$work/before"
start=$(now)
"$work/env/bin/pip" install -q "$wheel" || fail "pip install $(basename "$wheel")"
echo "pip install of the wheel: $(seconds "$start" "$(now)") s"

# From outside the source tree, with no LUPEX_LIBRARY: the module and the library it
# maps are the environment's.
mkdir "$work/elsewhere" && cd "$work/elsewhere"
"$env_python" - "$version" <<'EOF' || fail "the installed module"
import importlib.metadata, os, sys
import lupex
package = os.path.dirname(lupex.__file__)
mapped = {line.split(None, 5)[5].strip() for line in open("/proc/self/maps") if "liblupex" in line}
inside = os.path.join(package, lupex.LIBRARY_NAME)
print(f"module {lupex.__file__}, library {' '.join(mapped)}")
assert package.startswith(sys.prefix + os.sep), "the module is not the environment's"
assert mapped == {inside}, f"the library mapped is not {inside}"
assert lupex.__version__ == importlib.metadata.version("lupex") == sys.argv[1], "versions differ"
assert lupex.encrypt("secret", "Hello, world") == "26FVP/Vur1q.7J5YR0oj5Ks1"
EOF

# Debian's pytest and what it imports, and nothing else of Debian's Python.
mkdir "$work/pytest"
for package in python3-pytest python3-pluggy python3-iniconfig python3-packaging python3-attr; do
  dpkg -L "$package" | sed -n 's|^/usr/lib/python3/dist-packages/\([^/]*\)$|\1|p' |
    while read -r name; do ln -sfn "/usr/lib/python3/dist-packages/$name" "$work/pytest/$name"; done
done
PYTHONPATH=$work/pytest PYTHONDONTWRITEBYTECODE=1 \
  "$env_python" -m pytest -q -rs -p no:cacheprovider --installed "$root/tests/python" ||
  fail "pytest against the installed wheel"

"$work/env/bin/pip" uninstall -q -y lupex || fail "pip uninstall lupex"
(cd "$work/env" && find . | LC_ALL=C sort) >"$work/after"
diff "$work/before" "$work/after" || fail "pip uninstall left the environment otherwise than it was"

# What a build without cmake or without a C++ compiler says.
failed_build() {
  local reason=$1; shift
  if env "$@" "${pip_wheel[@]}" -w "$work/refused" "$sdist" >"$work/refused.log" 2>&1; then
    fail "a build with $* succeeded"
  elif ! grep -q "error: lupex: .*$reason" "$work/refused.log"; then
    cat "$work/refused.log"; fail "a build with $* does not say '$reason'"
  fi
}
failed_build "no cmake was found on PATH" PATH="$work/build-env/bin"
failed_build "it needs a C++17 compiler" CXX="$work/no-such-compiler"

# `pip install` of the source folder, as the README shows it (a build of its own, in
# the tree's build/).
start=$(now)
"$work/build-env/bin/pip" install -q --no-build-isolation "$root" || fail "pip install $root"
echo "pip install of the source folder: $(seconds "$start" "$(now)") s"
"$build_python" -c 'import os, sys, lupex
mapped = {line.split(None, 5)[5].strip() for line in open("/proc/self/maps") if "liblupex" in line}
assert mapped == {os.path.join(os.path.dirname(lupex.__file__), lupex.LIBRARY_NAME)}, mapped
assert lupex.__file__.startswith(sys.prefix + os.sep), lupex.__file__' ||
  fail "the module installed from the source folder"

[ $failures -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "python wheel: every check passed"
