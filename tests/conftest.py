"""Fixtures shared across subsystems: the release artifacts and nm, and a user whom permission bits bind."""

import contextlib
import dataclasses
import os
import pathlib
import platform
import re
import shutil
import subprocess
import sys
import tempfile
import traceback
import zipfile

import hypothesis
import pytest

# Nothing is timed: drawing inputs and running an example may be slow on a busy
# machine or under emulation, and that is no finding.
hypothesis.settings.register_profile("untimed", deadline=None,
                                     suppress_health_check=[hypothesis.HealthCheck.too_slow])
hypothesis.settings.load_profile("untimed")

# The release targets (scripts/targets.txt), read by scripts/targets.py, which
# the tests import as `targets`, as they import the helpers kept here
# (syscall_filter).
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "scripts"))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import targets  # noqa: E402

# The wheels a release has, each named by its platform tag.
WHEELS = tuple(row["wheel"] for row in targets.rows() if row["wheel"] != "-")


def running_family():
    """The platform family of the running interpreter's C library: musllinux
    under musl (whose interpreters name their triplet ...-linux-musl), else
    manylinux."""
    return "musllinux" if "musl" in getattr(sys.implementation, "_multiarch", "") else "manylinux"


@dataclasses.dataclass
class Release:
    sdist: pathlib.Path
    wheels: dict  # every wheel of the release, by its tag (one of WHEELS)
    libraries: dict  # the module's library unpacked from each wheel, by kind

    @property
    def kind(self):
        """The wheel this interpreter installs: its C library's platform family
        and its processor."""
        return next((w for w in WHEELS if w.startswith(running_family()) and w.endswith(f"_{platform.machine()}")),
                    None)

    @property
    def wheel(self):
        return self.wheels[self.kind]

    @property
    def library(self):
        return self.libraries[self.kind]


def wheel_kind(wheel):
    """The tag of WHEELS that a wheel's name ends with (the last of its
    platforms: ...-manylinux2014_CPU.manylinux_2_17_CPU.whl), or None."""
    return next((w for w in WHEELS if wheel.name.endswith((f"-{w}.whl", f".{w}.whl"))), None)


@pytest.fixture(scope="session")
def release(tmp_path_factory):
    """The artifacts in the folder MORVANE_DIST names, as scripts/build_release.sh leaves them."""
    folder = os.environ.get("MORVANE_DIST")
    if not folder:
        pytest.skip("no release artifacts: set MORVANE_DIST to the folder scripts/build_release.sh wrote")
    folder = pathlib.Path(folder)
    sdists = sorted(folder.glob("morvane_core-*.tar.gz"))
    wheels = sorted(folder.glob("morvane_core-*.whl"))
    by_kind = {wheel_kind(w): w for w in wheels}
    assert len(sdists) == 1 and len(by_kind) == len(wheels) and None not in by_kind, \
        f"want one sdist and one wheel of each kind in {folder}: {sdists + wheels}"
    libraries = {}
    for kind, path in by_kind.items():
        with zipfile.ZipFile(path) as wheel:
            libraries[kind] = pathlib.Path(wheel.extract("morvane_core.abi3.so", tmp_path_factory.mktemp(kind)))
    release = Release(sdists[0], by_kind, libraries)
    assert release.kind in by_kind, f"no {release.kind} wheel in {folder}: {wheels}"
    return release


@pytest.fixture(scope="session")
def build_records():
    """What the module's library records of its build in its own bytes, as
    "morvane_core KEY: VALUE" texts: {"inflater": "zlib-ng 2.3.3", "system calls": "linux",
    "folder handles": "search", "scans": "sse2"} ("portable" for a build that makes no
    Linux-only system call; "read" where a folder's handle needs read permission, not only
    search permission; the scans' path: "sse2", "neon" or "portable")."""
    import morvane_core
    found = re.findall(rb"morvane_core ([a-z ]+): ([^\0]*)\0", pathlib.Path(morvane_core.__file__).read_bytes())
    # An unstripped library holds each text again in its debug information.
    records = {key.decode(): value.decode() for key, value in set(found)}
    assert len(records) == len(set(found)), found
    return records


@pytest.fixture(scope="session")
def dynamic_symbols():
    """`nm -D FLAGS library` as a list of names with their versions, e.g. 'memcpy@GLIBC_2.14'.
    A Mach-O library (a macOS wheel's) is read by LLVM's nm, its external
    symbols with C's leading underscore taken off."""
    if shutil.which("nm") is None:
        pytest.skip("nm is not installed")

    def run(library, *flags):
        command = ["nm", "-D"]
        with open(library, "rb") as f:
            macho = f.read(4) == b"\xcf\xfa\xed\xfe"
        if macho:
            llvm_nm = next(filter(None, map(shutil.which, ("llvm-nm", "llvm-nm-19", "llvm-nm-14"))), None)
            if llvm_nm is None:
                pytest.skip("LLVM's nm, which reads Mach-O, is not installed")
            command = [llvm_nm, "-g"]
        out = subprocess.run([*command, *flags, str(library)], check=True, capture_output=True, text=True).stdout
        names = [line.split()[-1] for line in out.splitlines() if line.strip()]
        return [n.removeprefix("_") for n in names] if macho else names

    return run


@pytest.fixture(scope="session")
def cmake_tools():
    """The arguments every configure of this project's sources by the tests
    takes: Ninja where it is installed, and the running interpreter. Skips
    where cmake or a C++ compiler is missing (a machine that has only the
    wheel)."""
    if shutil.which("cmake") is None:
        pytest.skip("cmake is not installed")
    if not (os.environ.get("CXX") or any(shutil.which(c) for c in ("c++", "g++", "clang++"))):
        pytest.skip("no C++ compiler (a machine that has only the wheel)")
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    return [*generator, f"-DPython_EXECUTABLE={sys.executable}"]


NOBODY = 65534


@pytest.fixture
def run_unprivileged():
    """Runs fn() in a forked child as `nobody` when this process is root
    (root's permission checks are overridden), and checks that it passed."""

    def run(fn):
        pid = os.fork()
        if pid == 0:
            code = 1
            try:
                if os.geteuid() == 0:
                    os.setgroups([])
                    os.setgid(NOBODY)
                    os.setuid(NOBODY)
                fn()
                code = 0
            except BaseException:
                traceback.print_exc()
            finally:
                os._exit(code)
        _, status = os.waitpid(pid, 0)
        assert os.waitstatus_to_exitcode(status) == 0

    return run


@pytest.fixture
def shared_dir():
    """A directory the unprivileged child owns."""
    path = tempfile.mkdtemp(prefix="morvane-perm-")
    os.chmod(path, 0o755)
    if os.geteuid() == 0:
        os.chown(path, NOBODY, NOBODY)
    yield path
    with contextlib.suppress(OSError):
        os.chmod(path, 0o755)
    shutil.rmtree(path, ignore_errors=True)
