"""Builds picfile with setuptools and pybind11's helpers, both from Debian:

    /usr/bin/python3 -m venv --system-site-packages venv
    venv/bin/pip install --no-build-isolation ./python

The C++ sources are the project's own pic/, output/ and engine/ folders,
compiled into the extension; nothing is downloaded. The engine's formats on
optional libraries are built where pkg-config finds the library, as CMake
builds them where it finds it (engine/CMakeLists.txt).
"""

import re
import shutil
import subprocess
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


# The engine's formats on optional libraries: the pkg-config package, the
# define that lists the format (formats/format_table.cpp) and its files.
OPTIONAL_FORMATS = [
    ("libpng", "ENGINE_HAVE_PNG", ["png_format.cpp"]),
    ("libjpeg", "ENGINE_HAVE_JPEG", ["jpeg_format.cpp"]),
    ("libtiff-4", "ENGINE_HAVE_TIFF", ["tiff_format.cpp", "tiff_reader.cpp"]),
    ("OpenEXR", "ENGINE_HAVE_EXR", ["exr_channels.cpp", "exr_format.cpp", "exr_header_check.cpp",
                                    "exr_reader.cpp", "exr_streams.cpp"]),
]


def pkg_config(package, *what):
    """The words pkg-config gives for `package`, or None where it has none."""
    if shutil.which("pkg-config") is None:
        return None
    done = subprocess.run(["pkg-config", *what, package], capture_output=True, text=True,
                          check=False)
    return done.stdout.split() if done.returncode == 0 else None


def optional_formats():
    """(defines, compile flags, link flags, files left out) for the optional formats."""
    defines, compile_flags, link_flags, left_out = [], [], [], set()
    for package, define, files in OPTIONAL_FORMATS:
        flags = pkg_config(package, "--cflags")
        libraries = pkg_config(package, "--libs")
        if flags is None or libraries is None:
            left_out.update(files)
            continue
        defines.append((define, None))
        compile_flags += flags
        link_flags += libraries
    return defines, compile_flags, link_flags, left_out


# Each folder's shared files and this platform's half (as their CMakeLists.txt pick them).
other_platform = "_posix.cpp" if sys.platform == "win32" else "_win32.cpp"
defines, compile_flags, link_flags, left_out = optional_formats()
sources = [str(here / "picfile_module.cpp"), str(here / "picfile_engine.cpp")]
sources += sorted(str(path) for path in (root / "pic").glob("*.cpp"))
sources += sorted(str(path) for path in (root / "output").glob("*.cpp")
                  if not path.name.endswith(other_platform))
sources += sorted(str(path) for path in (root / "engine").glob("*/*.cpp")
                  if not path.name.endswith(other_platform) and path.name not in left_out)

setup(
    name="picfile",
    version=project_version(),
    description="Read, write, check and convert Softimage PIC images: numpy arrays, Pillow, Dask",
    packages=["picfile"],
    ext_modules=[
        Pybind11Extension("picfile._core", sources, include_dirs=[str(root)], cxx_std=17,
                          define_macros=defines, extra_compile_args=compile_flags,
                          extra_link_args=link_flags)
    ],
    cmdclass={"build_ext": build_ext},
    install_requires=["numpy"],
    extras_require={"pillow": ["Pillow"], "imageio": ["imageio"], "cluster": ["distributed"]},
    python_requires=">=3.9",
)
