"""The lupex wheel: the module of python/lupex, and inside it the lupex library,
built from this tree by CMake as its release preset builds it (the Release build
with the tests off: the same sources, flags and version script as the Linux
library everywhere else). The wheel is tagged for this platform and any Python 3:
the module loads the library through ctypes and has no extension of its own.
The metadata is in pyproject.toml; the version is the one of CMakeLists.txt."""

import os
import re
import shutil
import subprocess

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py
from setuptools.errors import ExecError

try:
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:  # setuptools before 70.1: the wheel package's command
    from wheel.bdist_wheel import bdist_wheel

ROOT = os.path.dirname(os.path.abspath(__file__))
# The module's own LIBRARY_NAME, the file that it loads from inside the package, and
# the target that builds it: on Windows the C API's DLL (lupex.dll has the five
# procedures only).
LIBRARY_NAME, TARGET = ("liblupex-2.dll", "lupex_api_dll") if os.name == "nt" else ("liblupex.so.2", "lupex")


def version():
    # CMake checks at configure time that lupex.h says the same.
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as cmake:
        found = re.search(r"^project\(lupex VERSION ([0-9]+\.[0-9]+\.[0-9]+)", cmake.read(), re.M)
    if not found:
        raise ExecError("lupex: CMakeLists.txt has no project(lupex VERSION x.y.z) line")
    return found.group(1)


class build_py_and_library(build_py):
    """build_py, then the library into the built package."""

    def run(self):
        super().run()
        cmake = shutil.which("cmake")
        if cmake is None:
            raise ExecError("lupex: building the lupex library needs cmake (3.20 or newer) "
                            "and a C++17 compiler; no cmake was found on PATH")
        folder = os.path.join(os.path.abspath(self.get_finalized_command("build").build_temp),
                              "lupex-library")
        if subprocess.run([cmake, "-S", ROOT, "-B", folder, "--preset", "release"]).returncode:
            raise ExecError("lupex: cmake could not configure the lupex library's build (its "
                            "messages are above): it needs a C++17 compiler and cmake 3.20 or newer")
        build = [cmake, "--build", folder, "--target", TARGET]
        if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
            build += ["--parallel", str(os.cpu_count() or 1)]
        if subprocess.run(build).returncode:
            raise ExecError("lupex: the lupex library did not build (the compiler's messages are above)")
        library = os.path.join(folder, LIBRARY_NAME)
        if not os.path.exists(library):
            raise ExecError(f"lupex: the build made no {LIBRARY_NAME} in {folder}")
        # The file itself, not the build's link to it.
        self.copy_file(os.path.realpath(library), os.path.join(self.build_lib, "lupex", LIBRARY_NAME))


class native_distribution(Distribution):
    """Not pure: the package carries a native library (installed, as extensions are,
    into the platform's library folder)."""

    def has_ext_modules(self):
        return True


class platform_wheel(bdist_wheel):
    """This platform's tag, for any Python 3: no extension module ties the wheel to
    one Python's ABI."""

    def get_tag(self):
        return ("py3", "none", super().get_tag()[2])


setup(version=version(), distclass=native_distribution,
      cmdclass={"build_py": build_py_and_library, "bdist_wheel": platform_wheel})
