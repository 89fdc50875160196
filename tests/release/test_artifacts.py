"""The release artifacts: the wheel's name and tags, its files, what its library
needs from the system, and twine's check of both artifacts. The library's own
exports and imports are checked beside the installed module's in
tests/module/test_library.py."""

import email.parser
import pathlib
import platform
import re
import shutil
import subprocess
import sys
import zipfile

import pytest

import morvane_core

WHEEL_NAME = re.compile(rf"morvane_core-(?P<version>[^-]+)-cp39-abi3-(?P<plat>manylinux_2_(?P<glibc>\d+)_{platform.machine()})\.whl")

# Libraries every manylinux system provides; anything else would have to travel in the wheel.
SYSTEM_LIBRARIES = re.compile(r"lib(c|m|stdc\+\+|gcc_s|pthread|dl|rt)\.so\.\d+|ld-linux-.*\.so\.\d+")


def wheel_text(release, name):
    with zipfile.ZipFile(release.wheel) as wheel:
        return wheel.read(name).decode()


def test_one_abi3_wheel_for_cpython_3_9_and_later(release):
    name = WHEEL_NAME.fullmatch(release.wheel.name)
    assert name, release.wheel.name
    version, plat = name["version"], name["plat"]
    assert release.sdist.name == f"morvane_core-{version}.tar.gz"
    info = f"morvane_core-{version}.dist-info"
    wheel = email.parser.Parser().parsestr(wheel_text(release, f"{info}/WHEEL"))
    assert wheel.get_all("Tag") == [f"cp39-abi3-{plat}"]
    assert wheel["Root-Is-Purelib"] == "false"
    metadata = email.parser.Parser().parsestr(wheel_text(release, f"{info}/METADATA"))
    assert (metadata["Name"], metadata["Version"], metadata["Requires-Python"]) == ("morvane_core", version, ">=3.9")


def test_wheel_holds_the_module_its_stubs_and_licenses_only(release):
    version = WHEEL_NAME.fullmatch(release.wheel.name)["version"]
    info = f"morvane_core-{version}.dist-info"
    with zipfile.ZipFile(release.wheel) as wheel:
        files = {n for n in wheel.namelist() if not n.endswith("/")}
    assert files == {
        "morvane_core.abi3.so", "morvane_core-stubs/__init__.pyi",
        f"{info}/METADATA", f"{info}/WHEEL", f"{info}/RECORD", f"{info}/licenses/LICENSE",
        f"{info}/licenses/LICENSES/zlib.txt", f"{info}/licenses/LICENSES/OpenSSL-Apache-2.0.txt",
    }


def test_library_needs_only_what_every_manylinux_system_has(release):
    if shutil.which("readelf") is None:
        pytest.skip("readelf is not installed")
    dynamic = subprocess.run(["readelf", "-d", str(release.library)], check=True, capture_output=True, text=True).stdout
    needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic))
    assert "libc.so.6" in needed
    assert sorted(n for n in needed if not SYSTEM_LIBRARIES.fullmatch(n)) == []
    assert "RPATH" not in dynamic and "RUNPATH" not in dynamic


def test_platform_tag_promises_no_older_glibc_than_the_library_needs(release, dynamic_symbols):
    tagged = (2, int(WHEEL_NAME.fullmatch(release.wheel.name)["glibc"]))
    versions = re.findall(r"@GLIBC_(\d+)\.(\d+)", "\n".join(dynamic_symbols(release.library, "--undefined-only")))
    assert versions
    assert max((int(a), int(b)) for a, b in versions) <= tagged


def test_module_under_test_is_the_wheels_library(release):
    assert pathlib.Path(morvane_core.__file__).read_bytes() == release.library.read_bytes()


def test_twine_accepts_both_artifacts(release):
    run = subprocess.run([sys.executable, "-m", "twine", "check", "--strict", str(release.sdist), str(release.wheel)],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert run.stdout.count("PASSED") == 2, run.stdout
