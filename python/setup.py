"""Builds picfile with setuptools and pybind11's helpers, both from Debian:

    /usr/bin/python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-build-isolation ./python

The C++ sources are the project's own pic/ and output/ folders, compiled
into the extension; nothing is downloaded.
"""

import re
import sys
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

# Compiles the sources on every core (NPY_NUM_BUILD_JOBS sets how many).
ParallelCompile("NPY_NUM_BUILD_JOBS").install()

here = Path(__file__).resolve().parent
root = here.parent


def project_version():
    text = (root / "pic" / "product.h").read_text()
    parts = [re.search(rf"#define PIC_VERSION_{part} (\d+)", text).group(1)
             for part in ("MAJOR", "MINOR", "PATCH")]
    return ".".join(parts)


# output/'s shared files and this platform's half (as output/CMakeLists.txt picks them).
other_platform = "_posix.cpp" if sys.platform == "win32" else "_win32.cpp"
sources = [str(here / "picfile_module.cpp")]
sources += sorted(str(path) for path in (root / "pic").glob("*.cpp"))
sources += sorted(str(path) for path in (root / "output").glob("*.cpp")
                  if not path.name.endswith(other_platform))

setup(
    name="picfile",
    version=project_version(),
    description="Read and write Softimage PIC images as numpy arrays, with a Pillow plug-in",
    packages=["picfile"],
    ext_modules=[
        Pybind11Extension("picfile._core", sources, include_dirs=[str(root)], cxx_std=17)
    ],
    cmdclass={"build_ext": build_ext},
    install_requires=["numpy"],
    extras_require={"pillow": ["Pillow"], "imageio": ["imageio"], "cluster": ["distributed"]},
    python_requires=">=3.9",
)
