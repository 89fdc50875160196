"""Archives written by the system's GNU tar in each of its formats."""

import gzip
import io
import os
import random
import subprocess
import tarfile

import pytest

from archive_builders import HAVE_GNU_TAR, extract, failure, system_tar, tree

pytestmark = pytest.mark.skipif(not HAVE_GNU_TAR, reason="GNU tar is not installed")

LONG_DIR = "a-folder-name-of-some-length/" * 5  # 145 characters


def make_package(root, long_names=True):
    rng = random.Random(11)
    pkg = root / "package"
    (pkg / "lib" / "deep").mkdir(parents=True)
    (pkg / "empty").mkdir()
    (pkg / "index.js").write_bytes(b"module.exports = require('./lib/deep/x.js');\n")
    (pkg / "lib" / "deep" / "x.js").write_bytes(b"x")
    (pkg / "blob.bin").write_bytes(rng.randbytes(300_000))
    (pkg / "zero").write_bytes(b"")
    (pkg / "caf\u00e9.txt").write_bytes(b"accent")
    if long_names:
        (pkg / LONG_DIR).mkdir(parents=True)
        (pkg / LONG_DIR / ("f" * 120 + ".txt")).write_bytes(b"long")
    return pkg


def members(raw):
    return tarfile.open(fileobj=io.BytesIO(raw)).getmembers()


@pytest.mark.parametrize("fmt, long_names", [
    ("gnu", True), ("oldgnu", True), ("pax", True), ("posix", True), ("ustar", False), ("v7", False),
])
def test_formats_extract_to_the_source_tree(tmp_path, fmt, long_names):
    pkg = make_package(tmp_path / "src", long_names)
    raw = system_tar(tmp_path / "src", "package", f"--format={fmt}")
    written = extract(gzip.compress(raw), tmp_path / "out")
    assert tree(tmp_path / "out") == tree(pkg)
    regular = [m.name.split("/", 1)[1] for m in members(raw) if m.isfile()]
    assert written == regular


def test_ustar_splits_long_paths_into_prefix_and_name(tmp_path):
    pkg = tmp_path / "src" / "package"
    (pkg / LONG_DIR).mkdir(parents=True)
    (pkg / LONG_DIR / "file.txt").write_bytes(b"split")
    raw = system_tar(tmp_path / "src", "package", "--format=ustar")
    file_member = [m for m in members(raw) if m.isfile()][0]
    assert raw[file_member.offset + 345:file_member.offset + 500].rstrip(b"\0")  # the prefix is in use
    assert extract(gzip.compress(raw), tmp_path / "out") == [LONG_DIR + "file.txt"]


@pytest.mark.parametrize("fmt", ["gnu", "oldgnu"])
def test_gnu_sparse_files_are_passed_over(tmp_path, fmt):
    pkg = tmp_path / "src" / "package"
    pkg.mkdir(parents=True)
    with open(pkg / "sparse", "wb") as f:
        # Many separate data regions, so the sparse map needs extension blocks.
        for i in range(12):
            f.seek(i * 65536)
            f.write(b"data")
        f.truncate(2 * 1024 * 1024)
    (pkg / "plain").write_bytes(b"plain")
    raw = system_tar(tmp_path / "src", "package", f"--format={fmt}", "--sparse")
    kinds = {m.name: m.type for m in members(raw)}
    assert kinds["package/sparse"] == tarfile.GNUTYPE_SPARSE
    assert extract(gzip.compress(raw), tmp_path / "out") == ["plain"]
    assert tree(tmp_path / "out") == {"plain": b"plain"}


@pytest.mark.parametrize("fmt", ["gnu", "pax", "ustar"])
def test_fifos_are_passed_over(tmp_path, fmt):
    pkg = tmp_path / "src" / "package"
    pkg.mkdir(parents=True)
    os.mkfifo(pkg / "pipe")
    (pkg / "f").write_bytes(b"f")
    raw = system_tar(tmp_path / "src", "package", f"--format={fmt}")
    assert any(m.isfifo() for m in members(raw))
    assert extract(gzip.compress(raw), tmp_path / "out") == ["f"]
    assert tree(tmp_path / "out") == {"f": b"f"}


@pytest.mark.parametrize("fmt", ["gnu", "pax", "ustar", "v7"])
def test_symbolic_links_are_refused(tmp_path, fmt):
    pkg = tmp_path / "src" / "package"
    pkg.mkdir(parents=True)
    os.symlink("target", pkg / "link")
    raw = system_tar(tmp_path / "src", "package", f"--format={fmt}")
    assert failure(gzip.compress(raw), tmp_path / "out") == "Symlink in tarball: package/link"


@pytest.mark.parametrize("fmt", ["gnu", "pax"])
def test_symbolic_link_with_a_long_target_is_refused(tmp_path, fmt):
    pkg = tmp_path / "src" / "package"
    pkg.mkdir(parents=True)
    os.symlink("t" * 300, pkg / "link")
    raw = system_tar(tmp_path / "src", "package", f"--format={fmt}")
    assert failure(gzip.compress(raw), tmp_path / "out") == "Symlink in tarball: package/link"


@pytest.mark.parametrize("fmt", ["gnu", "pax", "ustar", "v7"])
def test_hard_links_are_refused(tmp_path, fmt):
    pkg = tmp_path / "src" / "package"
    pkg.mkdir(parents=True)
    (pkg / "a").write_bytes(b"shared")
    os.link(pkg / "a", pkg / "b")
    raw = system_tar(tmp_path / "src", "package", f"--format={fmt}")
    linked = [m for m in members(raw) if m.islnk()]
    assert len(linked) == 1
    first = [m.name for m in members(raw) if m.isfile()][0]
    assert failure(gzip.compress(raw), tmp_path / "out") == f"Symlink in tarball: {linked[0].name}"
    # The first name, stored as a regular file, was written before the link was met.
    assert tree(tmp_path / "out") == {first.split("/", 1)[1]: b"shared"}


def test_gnu_tar_own_gzip_output(tmp_path):
    pkg = make_package(tmp_path / "src")
    archive = tmp_path / "p.tgz"
    subprocess.run(["tar", "-czf", str(archive), "-C", str(tmp_path / "src"), "package"], check=True)
    extract(archive.read_bytes(), tmp_path / "out")
    assert tree(tmp_path / "out") == tree(pkg)
