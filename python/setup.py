"""The package zeblix, its extension built against the installed libraries (pkg-config zeblix and
zeblix-inventory) on CPython's limited API, so that one wheel serves every CPython from 3.11 on.
The extension carries its own version block, written by the installed zeblix-block."""
import os
import platform
import shlex
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

# The block's File OS, by the machine the extension is built for.
FILE_OS = {"x86_64": "Linux x86 64Bit", "i686": "Linux x86", "s390x": "Linux S390 64Bit"}


def pkg_config(*args):
    try:
        return subprocess.run(["pkg-config", *args], check=True, capture_output=True,
                              text=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        sys.exit("zeblix: the libraries' development files are not found: install libzeblix-dev "
                 "(or zeblix with cmake --install, its lib/pkgconfig in PKG_CONFIG_PATH) and "
                 "pkg-config")


FLAGS = shlex.split(pkg_config("--cflags", "--libs", "zeblix", "zeblix-inventory"))
LIBDIR = pkg_config("--variable=libdir", "zeblix")
# Outside the system's own folders the libraries are found by the path they were built against.
RPATH = [] if LIBDIR in ("/usr/lib", "/usr/lib64") or LIBDIR.startswith("/usr/lib/") else \
    [f"-Wl,-rpath,{LIBDIR}"]


class BuildWithBlock(build_ext):
    """Writes the extension's version block with zeblix-block before it is compiled."""

    def run(self):
        os.makedirs(self.build_temp, exist_ok=True)
        block = os.path.join(self.build_temp, "own_block.c")
        subprocess.run([pkg_config("--variable=generator", "zeblix"), "--company=Quorvantis",
                        "--description=Quorvantis Version Module for Python",
                        f"--product-version={self.distribution.get_version()}",
                        "--internal-name=PYTHON3-ZEBLIX", "--product-name=python3-zeblix",
                        "--copyright=Copyright (C) Quorvantis. All rights reserved.",
                        "--build-number=0", "--release=Release",
                        f"--file-os={FILE_OS.get(platform.machine(), 0)}",
                        "--file-type=Dynamic Link Library", "--symbol=own_block_python3_zeblix",
                        "-o", block], check=True)
        for extension in self.extensions:
            extension.sources.append(block)
        super().run()


setup(
    version=pkg_config("--modversion", "zeblix"),
    packages=["zeblix"],
    package_data={"zeblix": ["py.typed", "*.pyi"]},
    ext_modules=[Extension(
        "zeblix._zeblix", ["zeblix_module.cc"], py_limited_api=True,
        define_macros=[("Py_LIMITED_API", "0x030B0000")],
        extra_compile_args=["-std=c++20", *[f for f in FLAGS if f.startswith("-I")]],
        extra_link_args=[*[f for f in FLAGS if not f.startswith("-I")], *RPATH,
                         "-Wl,-u,own_block_python3_zeblix"])],
    cmdclass={"build_ext": BuildWithBlock},
    options={"bdist_wheel": {"py_limited_api": "cp311"}},
)
