"""Builds vadoset._core with CMake, from the repository's own engine target.

The engine lives in the repository's src/ folder, beside this one, and the
extension is one target of the repository's CMake build (python/CMakeLists.txt),
with the engine's own flags. pip builds a local folder in place, so the
repository is found through this file's own location; VADOSET_SOURCE_DIR names
another checkout's root (for a build from a copy of python/ alone). Everything
comes from Debian's packages: cmake, ninja (or make), pybind11-dev.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = Path(__file__).resolve().parent


def repository():
    candidates = [os.environ.get("VADOSET_SOURCE_DIR"), HERE.parent]
    for c in candidates:
        if c and (Path(c) / "src" / "model" / "engine.cpp").is_file() and (Path(c) / "CMakeLists.txt").is_file():
            return Path(c).resolve()
    raise SystemExit(
        "vadoset: the repository (src/model/engine.cpp and CMakeLists.txt) was not found beside "
        f"{HERE}; build from the repository's python/ folder, or set VADOSET_SOURCE_DIR "
        "to the repository's root folder."
    )


class CMakeExtension(Extension):
    def __init__(self, name, target):
        super().__init__(name, sources=[])
        self.target = target


class BuildWithCMake(build_ext):
    """Configures the repository with the Python extension only, builds its
    target, and puts the module where setuptools expects it."""

    def build_extension(self, ext):
        source = repository()
        build = Path(self.build_temp).resolve() / "cmake"
        build.mkdir(parents=True, exist_ok=True)
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        subprocess.run(
            ["cmake", "-S", str(source), "-B", str(build), *generator,
             "-DCMAKE_BUILD_TYPE=Release",
             "-DVADOSET_BUILD_PYTHON=ON", "-DVADOSET_BUILD_GUI=OFF", "-DVADOSET_BUILD_TESTS=OFF",
             f"-DPython_EXECUTABLE={sys.executable}"],
            check=True,
        )
        subprocess.run(["cmake", "--build", str(build), "--target", ext.target], check=True)
        built = next((build / "python").glob("_core*.so"), None)
        if built is None:
            raise SystemExit(f"vadoset: the build left no _core module in {build / 'python'}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(built, target)


setup(packages=["vadoset"], ext_modules=[CMakeExtension("vadoset._core", "vadoset_python_core")],
      cmdclass={"build_ext": BuildWithCMake})
