# The module from the source tree, and the library of the native build unless
# LUPEX_LIBRARY names another: scripts/test.sh sets it, and a bare
# `python3 -m pytest tests/python` after `cmake --build --preset native` works too.
import os
import sys

root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(root, "python"))
native = os.path.join(root, "build", "native", "liblupex.so")
if "LUPEX_LIBRARY" not in os.environ and os.path.exists(native):
    os.environ["LUPEX_LIBRARY"] = native
