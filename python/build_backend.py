"""Builds the mornak wheel from this checkout, offline, with nothing but the interpreter's setuptools.

A build backend of its own (PEP 517), so that `pip install --no-build-isolation ./python` and
`python3 -m build --no-isolation --wheel ./python` need neither the network nor the `wheel`
package, which older setuptools need for wheels and distributions do not always install. The
extension is compiled by setuptools' build_ext from the library's sources in ../lib and the
module's in src/, against the stable ABI of Python 3.11: the wheel (cp311-abi3) serves 3.11 and
every later Python.
"""

import base64
import glob
import hashlib
import os
import re
import sysconfig
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
NAME = "mornak"
TAG = "cp311-abi3-" + re.sub(r"[-.]", "_", sysconfig.get_platform())
SUMMARY = "The .bk codec: compress, decompress and verify .bk files, as bz2 does for .bz2"


def _version():
    with open(os.path.join(ROOT, "include", "mornak.h"), encoding="ascii") as header:
        text = header.read()
    return ".".join(re.search(rf"#define MORNAK_VERSION_{part} (\d+)", text).group(1)
                    for part in ("MAJOR", "MINOR", "PATCH"))


def _dist_info():
    return f"{NAME}-{_version()}.dist-info"


def _metadata_files():
    with open(os.path.join(HERE, "README.md"), encoding="utf-8") as readme:
        description = readme.read()
    metadata = (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {_version()}\nSummary: {SUMMARY}\n"
                "Requires-Python: >=3.11\nLicense: MIT\nDescription-Content-Type: text/markdown\n\n" + description)
    wheel = f"Wheel-Version: 1.0\nGenerator: mornak build_backend\nRoot-Is-Purelib: false\nTag: {TAG}\n"
    return {"METADATA": metadata.encode(), "WHEEL": wheel.encode()}


def _build_extension(build_dir):
    """Compiles mornak._mornak into build_dir; returns the path of the module it made."""
    from setuptools import Distribution, Extension
    from setuptools.command.build_ext import build_ext

    sources = sorted(glob.glob(os.path.join(HERE, "src", "*.cpp")) + glob.glob(os.path.join(ROOT, "lib", "*.cpp")))
    extension = Extension(
        f"{NAME}._mornak",
        sources=sources,
        include_dirs=[os.path.join(ROOT, "include"), os.path.join(ROOT, "lib")],
        define_macros=[("Py_LIMITED_API", "0x030B0000"), ("MORNAK_STATIC", "1")],
        extra_compile_args=["-std=c++20", "-O2", "-fvisibility=hidden"],
        language="c++",
        py_limited_api=True,
    )
    command = build_ext(Distribution({"name": NAME, "ext_modules": [extension]}))
    command.build_lib = os.path.join(build_dir, "lib")
    command.build_temp = os.path.join(build_dir, "temp")
    command.parallel = os.cpu_count() or 1
    command.ensure_finalized()
    command.run()
    return command.get_ext_fullpath(extension.name)


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


# The hooks pip and build call.

def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    folder = os.path.join(metadata_directory, _dist_info())
    os.makedirs(folder, exist_ok=True)
    for name, data in _metadata_files().items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
    return _dist_info()


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    files = {}
    for path in sorted(glob.glob(os.path.join(HERE, NAME, "*"))):
        name = os.path.basename(path)
        if name.endswith((".py", ".pyi")) or name == "py.typed":
            with open(path, "rb") as source:
                files[f"{NAME}/{name}"] = source.read()
    with tempfile.TemporaryDirectory() as build_dir:
        module = _build_extension(build_dir)
        with open(module, "rb") as built:
            files[f"{NAME}/{os.path.basename(module)}"] = built.read()
    for name, data in _metadata_files().items():
        files[f"{_dist_info()}/{name}"] = data
    record = f"{_dist_info()}/RECORD"
    lines = [_record_line(name, data) for name, data in files.items()] + [f"{record},,"]
    files[record] = ("\n".join(lines) + "\n").encode()
    wheel_name = f"{NAME}-{_version()}-{TAG}.whl"
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files.items():
            wheel.writestr(name, data)
    return wheel_name
