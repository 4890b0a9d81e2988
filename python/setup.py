"""pip's build of cspband: CMake builds the extension, with the project's
own compiler flags, and setuptools installs the package with it.

    python3 -m venv --system-site-packages ENV
    ENV/bin/pip install --no-build-isolation --no-index ./python

(numpy, pybind11 and setuptools from Debian's python3-numpy, python3-pybind11
and python3-setuptools; the other build dependencies of the project, as
scripts/deps.sh lists them, since CMake configures the whole project.)
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent.parent
VERSION = re.search(r"project\(csp VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)


class cmake_build_ext(build_ext):
    """Builds the extension target _csp of the CMake project for this
    interpreter and puts the module where setuptools expects it."""

    def build_extension(self, ext):
        build = pathlib.Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        f"-DPython_EXECUTABLE={sys.executable}", "-DBUILD_TESTING=OFF"],
                       check=True)
        subprocess.run(["cmake", "--build", str(build), "--target", "_csp",
                        "-j", str(os.cpu_count() or 1)], check=True)
        built = next((build / "python" / "cspband").glob("_csp*.so"))
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    name="cspband",
    version=VERSION,
    description="Parallel solver for symmetric positive definite band systems, "
                "called as scipy.linalg's banded routines",
    packages=["cspband"],
    ext_modules=[Extension("cspband._csp", sources=[])],
    cmdclass={"build_ext": cmake_build_ext},
    python_requires=">=3.8",
    install_requires=["numpy"],
)
