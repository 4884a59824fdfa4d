"""The extension module, built against the installed libzeblix (pkg-config zeblix) on CPython's
limited API, so that one wheel serves every CPython from 3.11 on."""
import shlex
import subprocess

from setuptools import Extension, setup


def pkg_config(option):
    return shlex.split(subprocess.run(["pkg-config", option, "zeblix"], check=True,
                                      capture_output=True, text=True).stdout)


setup(
    py_modules=[],  # the module is the extension alone
    ext_modules=[Extension(
        "zeblix", ["zeblix_module.cc"], py_limited_api=True,
        define_macros=[("Py_LIMITED_API", "0x030B0000")],
        extra_compile_args=["-std=c++20", *pkg_config("--cflags")],
        extra_link_args=pkg_config("--libs"))],
    options={"bdist_wheel": {"py_limited_api": "cp311"}},
)
