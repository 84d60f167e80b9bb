# The module from the source tree, and the library of the native build unless
# LUPEX_LIBRARY names another: scripts/test.sh sets it, and a bare
# `python3 -m pytest tests/python` after `cmake --build --preset native` works too.
# With --installed, the lupex that this Python has installed (a wheel, say), with
# the library it loads by itself: the source tree and LUPEX_LIBRARY are left alone.
import os
import sys


def pytest_addoption(parser):
    parser.addoption("--installed", action="store_true",
                     help="test the installed lupex module, not the source tree's")


def pytest_configure(config):
    if config.getoption("installed"):
        return
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    sys.path.insert(0, os.path.join(root, "python"))
    native = os.path.join(root, "build", "native", "liblupex.so")
    if "LUPEX_LIBRARY" not in os.environ and os.path.exists(native):
        os.environ["LUPEX_LIBRARY"] = native
