"""Fixtures for the tests that look at built files: the release artifacts and nm."""

import dataclasses
import os
import pathlib
import shutil
import subprocess
import zipfile

import pytest


@dataclasses.dataclass
class Release:
    sdist: pathlib.Path
    wheel: pathlib.Path
    library: pathlib.Path  # the module's library, unpacked from the wheel


@pytest.fixture(scope="session")
def release(tmp_path_factory):
    """The artifacts in the folder MORVANE_DIST names, as scripts/build_release.sh leaves them."""
    folder = os.environ.get("MORVANE_DIST")
    if not folder:
        pytest.skip("no release artifacts: set MORVANE_DIST to the folder scripts/build_release.sh wrote")
    folder = pathlib.Path(folder)
    sdists = sorted(folder.glob("morvane_core-*.tar.gz"))
    wheels = sorted(folder.glob("morvane_core-*.whl"))
    assert len(sdists) == 1 and len(wheels) == 1, f"want one sdist and one wheel in {folder}: {sdists + wheels}"
    unpacked = tmp_path_factory.mktemp("wheel")
    with zipfile.ZipFile(wheels[0]) as wheel:
        library = pathlib.Path(wheel.extract("morvane_core.abi3.so", unpacked))
    return Release(sdists[0], wheels[0], library)


@pytest.fixture(scope="session")
def dynamic_symbols():
    """`nm -D FLAGS library` as a list of names with their versions, e.g. 'memcpy@GLIBC_2.14'."""
    if shutil.which("nm") is None:
        pytest.skip("nm is not installed")

    def run(library, *flags):
        out = subprocess.run(["nm", "-D", *flags, str(library)], check=True, capture_output=True, text=True).stdout
        return [line.split()[-1] for line in out.splitlines() if line.strip()]

    return run
