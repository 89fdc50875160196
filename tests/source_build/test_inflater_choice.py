"""Which inflater a build from source gets: zlib-ng (behind ISA-L where it
is asked for first) from the copy an sdist carries, else fetched by pip at
configure time, pinned and hash-checked; the system's zlib, with a warning,
when pip cannot fetch it; and no build at all
from bytes that differ from the pin. Each case configures a copy of the
sources with CMake (configure only, nothing is compiled), with pip set up
through its environment alone: no index, and a folder of links that holds
what the case offers."""

import io
import os
import pathlib
import platform
import re
import shutil
import subprocess
import tarfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
ZLIB_NG = next(ROOT.glob("third_party/zlib-ng-*/.fetched"), None)
PIN = re.search(r"^set\(MORVANE_ZLIB_NG_SHA256 (\S+)\)$", (ROOT / "cmake" / "zlib_ng.cmake").read_text(), re.M)[1]
# Where a build asks for ISA-L first (x86_64, with NASM), pip's finding
# nothing leaves it to zlib-ng's choice, saying so.
ISAL_FIRST = ["The inflater is not ISA-L: its sources could not be fetched"] \
    if platform.machine() in ("x86_64", "AMD64") and shutil.which("nasm") else []

# An sdist named as the pinned one that pip could prepare without a network
# (its build backend is in the tree and needs nothing installed), but whose
# bytes are not the pinned ones.
NOT_THE_PINNED_SDIST = {
    "PKG-INFO": "Metadata-Version: 2.1\nName: zlib_ng\nVersion: 1.1.0\n",
    "pyproject.toml": '[build-system]\nrequires = []\nbuild-backend = "backend"\nbackend-path = ["."]\n',
    # Hooks run in the sdist's own folder.
    "backend.py": """import os
import shutil


def prepare_metadata_for_build_wheel(directory, config_settings=None):
    os.mkdir(os.path.join(directory, "zlib_ng-1.1.0.dist-info"))
    shutil.copy("PKG-INFO", os.path.join(directory, "zlib_ng-1.1.0.dist-info", "METADATA"))
    return "zlib_ng-1.1.0.dist-info"


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    raise NotImplementedError("metadata only")
""",
}


def write_not_the_pinned_sdist(folder):
    path = folder / "zlib_ng-1.1.0.tar.gz"
    with tarfile.open(path, "w:gz") as sdist:
        for name, text in NOT_THE_PINNED_SDIST.items():
            data = text.encode()
            member = tarfile.TarInfo(f"zlib_ng-1.1.0/{name}")
            member.size = len(data)
            sdist.addfile(member, io.BytesIO(data))
    return path


@pytest.fixture(scope="module")
def configure(tmp_path_factory, cmake_tools):
    def run(offered=False, handed_over=False, with_sdist_copy=False):
        """Configures a copy of the sources whose pip finds nothing, or, if
        `offered`, the sdist that is not the pinned one; `handed_over` names
        that sdist to CMake instead. Returns CMake's exit status and its
        output."""
        tree = tmp_path_factory.mktemp("tree")
        for entry in ("CMakeLists.txt", "cmake", "src", "stubs"):
            copy = shutil.copytree if (ROOT / entry).is_dir() else shutil.copy
            copy(ROOT / entry, tree / entry)
        if with_sdist_copy:
            shutil.copytree(ZLIB_NG.parent, tree / "third_party" / ZLIB_NG.parent.name)
        links = tree / "links"
        links.mkdir()
        defines = []
        if offered:
            write_not_the_pinned_sdist(links)
        if handed_over:
            defines.append(f"-DMORVANE_ZLIB_NG_ARCHIVE={write_not_the_pinned_sdist(tree)}")
        # None of the machine's pip setup (its configuration files, its index,
        # its links) is read: only this folder of links.
        env = {k: v for k, v in os.environ.items() if not k.startswith("PIP_")}
        env.update(PIP_CONFIG_FILE=os.devnull, PIP_NO_INDEX="1", PIP_FIND_LINKS=str(links))
        cmd = ["cmake", "-S", str(tree), "-B", str(tree / "build"), *cmake_tools, *defines]
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=600, env=env)
        # CMake wraps the lines of its messages.
        return done.returncode, " ".join((done.stdout + done.stderr).split())

    return run


@pytest.mark.parametrize("case, builds, said", [
    # pip finds nothing: the build names the command that failed and what pip
    # said, says how to hand the sources over, and takes zlib.
    ({}, True, ["zlib-ng's sources could not be fetched", "-m pip download",
                "No matching distribution found for zlib_ng==1.1.0", "MORVANE_ZLIB_NG_SOURCE=",
                "Inflater: zlib (no zlib-ng)", *ISAL_FIRST]),
    # Other bytes under the pinned name, from pip or named by hand: no build.
    ({"offered": True}, False, [f"not the pinned {PIN}: refusing it"]),
    ({"handed_over": True}, False, [f"not the pinned {PIN}: refusing it"]),
    # The copy an sdist carries is taken without asking pip.
    pytest.param({"with_sdist_copy": True}, True, ["Inflater: zlib-ng"], marks=pytest.mark.skipif(
        ZLIB_NG is None, reason="this tree carries no copy of zlib-ng's sources (an sdist does)")),
], ids=["nothing to fetch", "other bytes offered", "other bytes handed over", "sdist's copy"])
def test_inflater_choice(configure, case, builds, said):
    status, out = configure(**case)
    assert (status == 0) == builds, out
    for text in said:
        assert text in out, out
