"""Builds hyl._core from the project's own sources, the same core that
libhyl.so, hyl.dll and the hyl tool are made of, with Debian's pybind11."""

import glob
import os
import re

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


# The libraries the module is made of, every source of each folder: the core
# (without the exports of frame/, which the package does not use), the
# whole-table reader, the rules of writing a table, the plan's walk and
# chart, and the module itself.
FOLDERS = ("platform", "lowlevel", "dbf", "textime", "plan", "tables", "writing", "planchart", "python/src")


def sources():
    """The sources of FOLDERS, the Windows parts left out."""
    found = []
    for folder in FOLDERS:
        found += sorted(glob.glob(os.path.join(ROOT, folder, "*.cpp")))
    found = [s for s in found if "win32" not in os.path.basename(s)]
    # setuptools takes sources only relative to this folder.
    return [os.path.relpath(s, HERE) for s in found]


def version():
    """The one version number, from project() of the top-level CMakeLists.txt."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(hyl VERSION ([0-9.]+)", f.read()).group(1)


ParallelCompile("HYL_BUILD_JOBS", default=2).install()

setup(
    version=version(),
    ext_modules=[Pybind11Extension("hyl._core", sources(), include_dirs=[ROOT, os.path.join(ROOT, "include")],
                                   cxx_std=20, extra_compile_args=["-g0"])],
    cmdclass={"build_ext": build_ext},
)
