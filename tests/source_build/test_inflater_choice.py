"""Which inflater a build from source gets: zlib-ng from the copy an sdist
carries, else fetched at configure time, pinned and hash-checked; the system's
zlib, with a warning, when it cannot be fetched; and no build at all from bytes
that differ from the pin. Each case configures a copy of the sources with
CMake (configure only, nothing is compiled)."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
ZLIB_NG = next(ROOT.glob("third_party/zlib-ng-*/.fetched"), None)


@pytest.fixture(scope="module")
def configure(tmp_path_factory):
    if shutil.which("cmake") is None:
        pytest.skip("cmake is not installed")
    if not (os.environ.get("CXX") or any(shutil.which(c) for c in ("c++", "g++", "clang++"))):
        pytest.skip("no C++ compiler (a machine that has only the wheel)")

    def run(url, with_sdist_copy=False):
        """Configures a copy of the sources that fetches zlib-ng from `url`;
        returns CMake's exit status and its output."""
        tree = tmp_path_factory.mktemp("tree")
        for part in ("CMakeLists.txt", "cmake", "src", "stubs"):
            copy = shutil.copytree if (ROOT / part).is_dir() else shutil.copy
            copy(ROOT / part, tree / part)
        if with_sdist_copy:
            shutil.copytree(ZLIB_NG.parent, tree / "third_party" / ZLIB_NG.parent.name)
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        cmd = ["cmake", "-S", str(tree), "-B", str(tree / "build"), *generator, f"-DPython_EXECUTABLE={sys.executable}",
               f"-DMORVANE_ZLIB_NG_URL={url}"]
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=600)
        # CMake wraps the lines of its messages.
        return done.returncode, " ".join((done.stdout + done.stderr).split())

    return run


@pytest.fixture
def not_the_pinned_bytes(tmp_path):
    path = tmp_path / "zlib_ng-1.1.0.tar.gz"
    path.write_bytes(b"not the pinned sdist")
    return path.as_uri()


def test_without_a_network_the_build_takes_the_systems_zlib_and_says_so(configure, tmp_path):
    status, out = configure((tmp_path / "absent.tar.gz").as_uri())
    assert status == 0, out
    assert "zlib-ng's sources could not be fetched" in out
    assert "Inflater: zlib (no zlib-ng)" in out


def test_bytes_other_than_the_pinned_ones_stop_the_build(configure, not_the_pinned_bytes):
    status, out = configure(not_the_pinned_bytes)
    assert status != 0
    assert "not the pinned" in out and "refusing it" in out


def test_the_sdists_copy_is_used_without_fetching(configure, tmp_path):
    if ZLIB_NG is None:
        pytest.skip("this tree carries no copy of zlib-ng's sources (an sdist does)")
    status, out = configure((tmp_path / "absent.tar.gz").as_uri(), with_sdist_copy=True)
    assert status == 0, out
    assert "Inflater: zlib-ng" in out
    assert "could not be fetched" not in out
