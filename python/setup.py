"""Builds vadoset._core from the record engine's own C++ sources.

The engine lives in the repository's src/ folder, beside this one. pip
builds a local folder in place, so the sources are found through this
file's own location; VADOSET_SOURCE_DIR names another src/ folder (for a
build from a copy of python/ alone). setuptools takes only paths inside
this folder, so the engine's files are copied to build/engine-src first.
"""

import filecmp
import os
import shutil
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

HERE = Path(__file__).resolve().parent
ENGINE_SOURCES = ["model/engine.cpp", "model/beta.cpp", "model/lane_engine.cpp"]
# The lane kernels, each compiled for its own instruction set (never -mfma:
# the model's arithmetic is never fused); the engine picks one at run time.
LANE_SOURCES = {"model/lanes_avx2.cpp": ["-mavx2"], "model/lanes_avx512.cpp": ["-mavx512f"]}
ENGINE_HEADERS = [
    "model/engine.h",
    "model/values.h",
    "model/beta.h",
    "model/engine_internal.h",
    "model/lanes.h",
    "model/lane_kernel.h",
    "model/exp_table.inc",
]
FLAGS = ["-O2", "-ffp-contract=off", "-fno-fast-math", "-g0"]
COPY = Path("build") / "engine-src"


def engine_dir():
    candidates = [os.environ.get("VADOSET_SOURCE_DIR"), HERE.parent / "src"]
    for c in candidates:
        if c and all((Path(c) / s).is_file() for s in ENGINE_SOURCES):
            return Path(c).resolve()
    raise SystemExit(
        "vadoset: the engine's C++ sources (src/model/engine.cpp) were not found beside "
        f"{HERE}; build from the repository's python/ folder, or set VADOSET_SOURCE_DIR "
        "to the repository's src/ folder."
    )


def copy_engine(src):
    for name in ENGINE_SOURCES + list(LANE_SOURCES) + ENGINE_HEADERS:
        target = HERE / COPY / name
        # An unchanged file keeps its time, so nothing is compiled again.
        if not (target.is_file() and filecmp.cmp(src / name, target, shallow=False)):
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(src / name, target)


copy_engine(engine_dir())
core = Pybind11Extension(
    "vadoset._core",
    ["src/core.cpp", *((COPY / s).as_posix() for s in ENGINE_SOURCES)],
    include_dirs=[str(HERE / COPY)],
    cxx_std=20,
    # The engine's results are defined to the last bit: no contraction into
    # fused multiply-adds, no fast-math.
    extra_compile_args=FLAGS,
)


class BuildWithLanes(build_ext):
    """Compiles each lane kernel with its own instruction-set flag, then the
    module with them."""

    def build_extension(self, ext):
        objects = []
        for source, flags in LANE_SOURCES.items():
            objects += self.compiler.compile(
                [(COPY / source).as_posix()],
                output_dir=self.build_temp,
                include_dirs=[str(HERE / COPY)],
                extra_postargs=["-std=c++20", "-fPIC", *FLAGS, *flags],
            )
        ext.extra_objects = objects
        super().build_extension(ext)


setup(packages=["vadoset"], ext_modules=[core], cmdclass={"build_ext": BuildWithLanes})
