"""The release artifacts: each wheel's name and tags, its files, what its library
needs from the system, and twine's check of every artifact. The library's own
exports and imports are checked beside the installed module's in
tests/module/test_library.py."""

import email.parser
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import zipfile

import library_check
import pytest
import targets

import morvane_core

# Every wheel the table of targets names (scripts/targets.txt), by its tag,
# and its row.
ROWS = {row["wheel"]: row for row in targets.rows() if row["wheel"] != "-"}
WHEELS = tuple(ROWS)
# The wheels of ELF systems (their programs name a loader), which readelf and nm read.
LINUX_WHEELS = tuple(w for w in WHEELS if ROWS[w]["loader"] != "-")
# auditwheel names glibc 2.17 by its older name as well.
LEGACY = {"manylinux_2_17_": "manylinux2014_"}


def tag_parts(tag):
    """(family, oldest C library version, processor) of a platform tag:
    ("manylinux", (2, 17), "x86_64") for manylinux_2_17_x86_64, ("macosx", (11, 0),
    "arm64") for macosx_11_0_arm64."""
    found = re.fullmatch(r"(manylinux|musllinux|macosx)_(\d+)_(\d+)_(\w+)", tag)
    return found[1], (int(found[2]), int(found[3])), found[4]


def wheel_tags(tag):
    """The tags a wheel of that platform must carry, sorted."""
    legacy = [tag.replace(new, old) for new, old in LEGACY.items() if tag.startswith(new)]
    return sorted(f"cp39-abi3-{t}" for t in [tag, *legacy])


# What each wheel's library may need beyond its row's C library and loader:
# on glibc, the libraries every manylinux system provides (anything else would
# have to travel in the wheel); on musl nothing, its libc holding libm,
# libpthread, libdl and librt too.
MORE_NEEDED = {"manylinux": re.compile(r"lib(m|stdc\+\+|gcc_s|pthread|dl|rt)\.so\.\d+"), "musllinux": re.compile("")}

each_wheel = pytest.mark.parametrize("kind", WHEELS)
each_linux_wheel = pytest.mark.parametrize("kind", LINUX_WHEELS)

PINS = "".join((pathlib.Path(__file__).resolve().parents[2] / "cmake" / name).read_text()
               for name in ("zlib_ng.cmake", "isal.cmake"))


def pinned(name):
    """A value that cmake/zlib_ng.cmake or cmake/isal.cmake pins, e.g. MORVANE_ZLIB_NG_VERSION."""
    return re.search(rf"^set\({name} (\S+)\)$", PINS, re.M)[1]


def wheel_text(wheel_path, name):
    with zipfile.ZipFile(wheel_path) as wheel:
        return wheel.read(name).decode()


def version(release):
    return release.sdist.name.removeprefix("morvane_core-").removesuffix(".tar.gz")


def test_release_has_one_wheel_of_each_kind(release):
    assert sorted(release.wheels) == sorted(WHEELS)


@each_wheel
def test_one_abi3_wheel_for_cpython_3_9_and_later_and_its_c_library(release, kind):
    path = release.wheels[kind]
    tags = wheel_tags(kind)
    # The name holds the tags' platforms, dot-separated: cp39-abi3-P1.P2.
    platforms = ".".join(tag.split("-")[2] for tag in tags)
    assert path.name == f"morvane_core-{version(release)}-cp39-abi3-{platforms}.whl"
    info = f"morvane_core-{version(release)}.dist-info"
    wheel = email.parser.Parser().parsestr(wheel_text(path, f"{info}/WHEEL"))
    assert sorted(wheel.get_all("Tag")) == tags
    assert wheel["Root-Is-Purelib"] == "false"
    metadata = email.parser.Parser().parsestr(wheel_text(path, f"{info}/METADATA"))
    assert (metadata["Name"], metadata["Version"], metadata["Requires-Python"]) == ("morvane_core", version(release), ">=3.9")


@each_wheel
def test_wheel_holds_the_module_its_stubs_and_licenses_only(release, kind):
    info = f"morvane_core-{version(release)}.dist-info"
    with zipfile.ZipFile(release.wheels[kind]) as wheel:
        files = {n for n in wheel.namelist() if not n.endswith("/")}
        metadata = email.parser.Parser().parsestr(wheel.read(f"{info}/METADATA").decode())
    # A wheel whose SHA-512 comes from the system carries no libcrypto, nor its licence.
    licenses = ["LICENSE", "LICENSES/zlib-ng.txt"]
    if ROWS[kind]["inflater"] == "isa-l":
        licenses.append("LICENSES/ISA-L.txt")
    if ROWS[kind]["crypto"] != "system":
        licenses.append("LICENSES/OpenSSL-Apache-2.0.txt")
    assert files == {"morvane_core.abi3.so", "morvane_core-stubs/__init__.pyi", f"{info}/METADATA", f"{info}/WHEEL",
                     f"{info}/RECORD", *(f"{info}/licenses/{name}" for name in licenses)}
    assert sorted(metadata.get_all("License-File")) == sorted(licenses)


@each_wheel
def test_library_is_built_for_its_target_and_exports_the_init_function_alone(release, kind):
    # The release script's check: the processor; on macOS a bundle for the
    # oldest macOS of the tag, linking the system's libraries alone, no OpenSSL.
    if kind in LINUX_WHEELS and shutil.which("nm") is None:
        pytest.skip("nm is not installed")
    facts, failures = library_check.check(release.libraries[kind], ROWS[kind]["triple"])
    assert failures == [], facts
    assert facts.startswith("Mach-O" if kind.startswith("macosx_") else "ELF")
    if kind.startswith("macosx_"):
        assert f"macOS {'.'.join(map(str, tag_parts(kind)[1]))} or later" in facts


@each_linux_wheel
def test_library_needs_only_what_every_system_of_its_tag_has(release, kind):
    if shutil.which("readelf") is None:
        pytest.skip("readelf is not installed")
    row = ROWS[kind]
    dynamic = subprocess.run(["readelf", "-d", str(release.libraries[kind])], check=True, capture_output=True,
                             text=True).stdout
    needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic))
    assert row["libc_file"] in needed
    more = MORE_NEEDED[tag_parts(kind)[0]]
    assert sorted(n for n in needed - {row["libc_file"], row["loader"]} if not more.fullmatch(n)) == []
    assert "RPATH" not in dynamic and "RUNPATH" not in dynamic


@pytest.mark.parametrize("kind", [k for k in WHEELS if k.startswith("manylinux")])
def test_library_needs_no_glibc_newer_than_its_tag(release, dynamic_symbols, kind):
    versions = re.findall(r"@GLIBC_(\d+)\.(\d+)", "\n".join(dynamic_symbols(release.libraries[kind], "--undefined-only")))
    assert versions
    assert max((int(a), int(b)) for a, b in versions) <= tag_parts(kind)[1]


@pytest.mark.parametrize("kind", [k for k in WHEELS if k.startswith("macosx_")])
def test_macos_library_copies_attributes_and_acls(release, dynamic_symbols, kind):
    # A replaced lockfile keeps its extended attributes and ACL only where the
    # calls that copy them are linked (a cross toolchain's headers may lack
    # <sys/xattr.h>).
    imported = set(dynamic_symbols(release.libraries[kind], "--undefined-only"))
    assert {"flistxattr", "fgetxattr", "fsetxattr", "fremovexattr", "acl_get_fd_np", "acl_set_fd_np"} <= imported


def program_interpreter(executable):
    """The ELF program interpreter an executable names, or None."""
    headers = subprocess.run(["readelf", "-l", executable], capture_output=True, text=True).stdout
    found = re.search(r"\[Requesting program interpreter: ([^\]]+)\]", headers)
    return found and found[1]


@pytest.mark.parametrize("kind", [k for k in WHEELS if k.startswith("musllinux")])
def test_library_needs_nothing_musls_libc_lacks(release, kind):
    # musl's libc is its loader: the running interpreter's, else the system's.
    if shutil.which("readelf") is None or shutil.which("nm") is None:
        pytest.skip("readelf and nm are needed")
    loader = ROWS[kind]["loader"]
    running = program_interpreter(os.path.realpath(sys.executable))
    musl_libc = running if running and os.path.basename(running) == loader else f"/lib/{loader}"
    if not os.path.exists(musl_libc):
        pytest.skip(f"no {loader} here: musl of that processor is not installed")
    libc = subprocess.run(["nm", "-D", "--defined-only", str(musl_libc)], check=True, capture_output=True,
                          text=True).stdout
    provided = {line.split()[-1] for line in libc.splitlines() if line.strip()}
    imports = subprocess.run(["nm", "-D", "--undefined-only", str(release.libraries[kind])], check=True,
                             capture_output=True, text=True).stdout
    # Strong imports only: a weak one may be absent. None carries a glibc version.
    strong = [line.split()[-1] for line in imports.splitlines() if line.split()[0] == "U"]
    assert strong
    assert [s for s in strong if "@" in s] == []
    assert sorted(s for s in strong if s not in provided and not s.startswith(("Py", "_Py"))) == []


def test_module_under_test_is_the_wheels_library(release):
    assert pathlib.Path(morvane_core.__file__).read_bytes() == release.library.read_bytes()


@each_wheel
def test_library_inflates_as_its_row_says_and_scans_as_its_processor_may(release, kind):
    # The records of its build that the library carries in its bytes. The
    # scans' path shows the instruction set it was compiled for: a 32-bit x86
    # library with SSE2 would stop on the i686 processors its tag admits.
    data = release.libraries[kind].read_bytes()
    inflater = f"zlib-ng {pinned('MORVANE_ZLIB_NG_VERSION')}"
    if ROWS[kind]["inflater"] == "isa-l":
        inflater = f"isa-l {pinned('MORVANE_ISAL_VERSION')}, {inflater}"
    assert set(re.findall(rb"morvane_core inflater: ([^\0]*)\0", data)) == {inflater.encode()}
    assert set(re.findall(rb"morvane_core scans: ([^\0]*)\0", data)) \
        == {targets.processor(ROWS[kind])["scans"].encode()}


@pytest.mark.parametrize("pin, name, versioned, version_text", [
    ("MORVANE_ZLIB_NG", "zlib-ng", "zlib-ng.h.in", '#define ZLIBNG_VERSION "{}"'),
    ("MORVANE_ISAL", "isa-l", "CMakeLists.txt", "VERSION {}\n"),
])
def test_sdist_carries_the_pinned_sources(release, pin, name, versioned, version_text):
    tree = f"morvane_core-{version(release)}/third_party/{name}-{pinned(pin + '_VERSION')}"
    with tarfile.open(release.sdist) as sdist:
        stamp = sdist.extractfile(f"{tree}/.fetched").read().decode()
        text = sdist.extractfile(f"{tree}/{versioned}").read().decode()
        assert sdist.getmember(f"{tree}/CMakeLists.txt").isfile()
    # The stamp cmake/pinned_sources.cmake writes once the download matched the pin.
    assert stamp == f"{pinned(pin + '_SDIST')}.tar.gz {pinned(pin + '_SHA256')}\n"
    assert version_text.format(pinned(pin + "_VERSION")) in text


def test_twine_accepts_every_artifact(release):
    if os.environ.get("QEMU_CPU"):
        # charset-normalizer's compiled wheel, which twine imports, stops
        # with SIGFPE on the oldest s390x; the files are the same everywhere.
        pytest.skip("twine's dependencies need more than the oldest processor qemu-user is told to be")
    pytest.importorskip("twine", reason="twine is not installed (it has no wheel for every processor)")
    artifacts = [release.sdist, *release.wheels.values()]
    run = subprocess.run([sys.executable, "-m", "twine", "check", "--strict", *map(str, artifacts)],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    assert run.stdout.count("PASSED") == len(artifacts), run.stdout
