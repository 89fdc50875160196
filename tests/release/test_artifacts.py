"""The release artifacts: each wheel's name and tags, its files, what its library
needs from the system, and twine's check of every artifact. The library's own
exports and imports are checked beside the installed module's in
tests/module/test_library.py."""

import email.parser
import pathlib
import re
import shutil
import subprocess
import sys
import zipfile

import pytest

import morvane_core

# A release has one wheel per architecture, for glibc 2.17 and later; auditwheel
# names it by both spellings of that tag.
ARCHES = ("x86_64", "aarch64")
WHEEL_NAME = re.compile(r"morvane_core-(?P<version>[^-]+)-cp39-abi3-"
                        r"manylinux2014_(?P<arch>[a-z0-9_]+?)\.manylinux_2_(?P<glibc>\d+)_(?P=arch)\.whl")
GLIBC = 17
# The ELF header's e_machine of each architecture's libraries.
ELF_MACHINE = {"x86_64": 62, "aarch64": 183}

# Libraries every manylinux system provides; anything else would have to travel in the wheel.
SYSTEM_LIBRARIES = re.compile(r"lib(c|m|stdc\+\+|gcc_s|pthread|dl|rt)\.so\.\d+|ld-linux-.*\.so\.\d+")

each_arch = pytest.mark.parametrize("arch", ARCHES)


def wheel_text(wheel_path, name):
    with zipfile.ZipFile(wheel_path) as wheel:
        return wheel.read(name).decode()


def test_release_has_one_wheel_per_architecture(release):
    assert sorted(release.wheels) == sorted(ARCHES)


@each_arch
def test_one_abi3_wheel_for_cpython_3_9_and_later_and_glibc_2_17(release, arch):
    path = release.wheels[arch]
    name = WHEEL_NAME.fullmatch(path.name)
    assert name, path.name
    version = name["version"]
    assert (name["arch"], int(name["glibc"])) == (arch, GLIBC)
    assert release.sdist.name == f"morvane_core-{version}.tar.gz"
    info = f"morvane_core-{version}.dist-info"
    wheel = email.parser.Parser().parsestr(wheel_text(path, f"{info}/WHEEL"))
    assert sorted(wheel.get_all("Tag")) == [f"cp39-abi3-manylinux2014_{arch}", f"cp39-abi3-manylinux_2_{GLIBC}_{arch}"]
    assert wheel["Root-Is-Purelib"] == "false"
    metadata = email.parser.Parser().parsestr(wheel_text(path, f"{info}/METADATA"))
    assert (metadata["Name"], metadata["Version"], metadata["Requires-Python"]) == ("morvane_core", version, ">=3.9")


@each_arch
def test_wheel_holds_the_module_its_stubs_and_licenses_only(release, arch):
    version = WHEEL_NAME.fullmatch(release.wheels[arch].name)["version"]
    info = f"morvane_core-{version}.dist-info"
    with zipfile.ZipFile(release.wheels[arch]) as wheel:
        files = {n for n in wheel.namelist() if not n.endswith("/")}
    assert files == {
        "morvane_core.abi3.so", "morvane_core-stubs/__init__.pyi",
        f"{info}/METADATA", f"{info}/WHEEL", f"{info}/RECORD", f"{info}/licenses/LICENSE",
        f"{info}/licenses/LICENSES/zlib-ng.txt", f"{info}/licenses/LICENSES/OpenSSL-Apache-2.0.txt",
    }


@each_arch
def test_library_is_built_for_the_wheels_architecture(release, arch):
    header = release.libraries[arch].read_bytes()[:20]
    assert header[:4] == b"\x7fELF"
    assert int.from_bytes(header[18:20], "little") == ELF_MACHINE[arch]


@each_arch
def test_library_needs_only_what_every_manylinux_system_has(release, arch):
    if shutil.which("readelf") is None:
        pytest.skip("readelf is not installed")
    library = release.libraries[arch]
    dynamic = subprocess.run(["readelf", "-d", str(library)], check=True, capture_output=True, text=True).stdout
    needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic))
    assert "libc.so.6" in needed
    assert sorted(n for n in needed if not SYSTEM_LIBRARIES.fullmatch(n)) == []
    assert "RPATH" not in dynamic and "RUNPATH" not in dynamic


@each_arch
def test_library_needs_no_glibc_newer_than_its_tag(release, dynamic_symbols, arch):
    tagged = (2, int(WHEEL_NAME.fullmatch(release.wheels[arch].name)["glibc"]))
    versions = re.findall(r"@GLIBC_(\d+)\.(\d+)", "\n".join(dynamic_symbols(release.libraries[arch], "--undefined-only")))
    assert versions
    assert max((int(a), int(b)) for a, b in versions) <= tagged


def test_module_under_test_is_the_wheels_library(release):
    assert pathlib.Path(morvane_core.__file__).read_bytes() == release.library.read_bytes()


@each_arch
def test_library_inflates_with_zlib_ng(release, arch):
    # The record of its inflater that the library carries in its bytes.
    assert set(re.findall(rb"morvane_core inflater: ([^\0]*)\0", release.libraries[arch].read_bytes())) \
        == {b"zlib-ng 2.3.3"}


def test_twine_accepts_every_artifact(release):
    artifacts = [release.sdist, *release.wheels.values()]
    run = subprocess.run([sys.executable, "-m", "twine", "check", "--strict", *map(str, artifacts)],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert run.stdout.count("PASSED") == len(artifacts), run.stdout
