"""Nothing is written outside the destination, whatever the archive and whatever `dest` holds."""

import errno
import os
import shutil
import stat
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from archive_builders import (
    entry, extract, failure, gz, header, long_name, named, os_text, pax, snapshot, tar, tree,
)

EXISTS_TEXT = "IO error: " + os_text(errno.EEXIST)
IS_DIR_TEXT = "IO error: " + os_text(errno.EISDIR)


@pytest.fixture
def sandbox(tmp_path):
    """A tree with files and folders beside and above `dest`, which starts empty."""
    (tmp_path / "outside").mkdir()
    (tmp_path / "outside" / "secret").write_bytes(b"secret")
    (tmp_path / "outside" / "nested").mkdir()
    (tmp_path / "x").write_bytes(b"sibling x")
    (tmp_path / "etc").mkdir()
    (tmp_path / "etc" / "passwd").write_bytes(b"root:x:0:0")
    (tmp_path / "work").mkdir()
    (tmp_path / "work" / "dest").mkdir()
    return tmp_path


def outside_of(root, dest_rel):
    """The snapshot of everything under root except dest and what is below it."""
    return {k: v for k, v in snapshot(root).items() if k != dest_rel and not k.startswith(dest_rel + os.sep)}


HOSTILE = {
    "absolute": [entry("/tmp/evil", b"e")],
    "dot-dot": [entry("package/../../x", b"e")],
    "dot-dot-backslash": [entry("package\\..\\..\\x", b"e")],
    "dot-dot-at-the-end": [entry("package/outside/..", type="5")],
    "symlink-then-file": [entry("package/link", type="2", linkname=b"../../outside"),
                          entry("package/link/secret", b"e")],
    "hardlink-then-file": [entry("package/hard", type="1", linkname=b"../../x"), entry("package/hard", b"e")],
    "double-slash": [entry("package//x", b"inside")],
    "backslash-root": [entry("package/\\x", b"inside")],
    "backslash-absolute": [entry("\\..\\x", b"e")],
    "leading-backslashes": [entry("\\etc\\passwd", b"inside")],
    "long-name-traversal": [long_name("package/" + "a/" * 80 + "../" * 83 + "x"), entry("package/y", b"e")],
    "long-name-absolute": [long_name("/" + "d" * 150 + "/x"), entry("package/y", b"e")],
    "pax-traversal": [pax({"path": "package/../../outside/secret"}), entry("package/y", b"e", fmt="ustar")],
    "pax-absolute": [pax({"path": "/etc/passwd"}), entry("package/y", b"e", fmt="ustar")],
    "ustar-prefix-traversal": [header("x", 1, fmt="ustar", prefix=b"package/../..") + b"e" + bytes(511)],
    "dot-dot-in-directory": [entry("package/a/../../../outside/", type="5")],
    "nul-cut": [long_name(b"package/x\0/../../../x"), entry("package/y", b"e")],
    "only-slashes": [entry("package///", b"e"), entry("package/\\\\", b"e")],
}


@pytest.mark.parametrize("name", list(HOSTILE))
@pytest.mark.parametrize("dest_form", ["absolute", "relative", "empty"])
def test_hostile_archives_write_nothing_outside_dest(sandbox, monkeypatch, name, dest_form):
    dest_rel = os.path.join("work", "dest")
    before = outside_of(sandbox, dest_rel)
    data = gz(tar(*HOSTILE[name]))
    if dest_form == "absolute":
        dest = str(sandbox / dest_rel)
    elif dest_form == "relative":
        monkeypatch.chdir(sandbox / "work")
        dest = "dest"
    else:
        monkeypatch.chdir(sandbox / dest_rel)
        dest = ""
    try:
        extract(data, dest)
    except OSError:
        pass
    assert outside_of(sandbox, dest_rel) == before


def test_double_slash_and_backslash_land_inside(sandbox):
    dest = sandbox / "work" / "dest"
    data = gz(tar(entry("package//x", b"1"), entry("package/\\etc\\passwd", b"2"), entry("\\etc\\passwd", b"3")))
    assert extract(data, dest) == ["x", "etc/passwd", "etc/passwd"]
    assert tree(dest) == {"x": b"1", "etc": None, "etc/passwd": b"3"}
    assert (sandbox / "x").read_bytes() == b"sibling x"
    assert (sandbox / "etc" / "passwd").read_bytes() == b"root:x:0:0"


def plant(kind, path, sandbox):
    """Puts a link or special file at `path` below dest, pointing outside where it can."""
    path.parent.mkdir(parents=True, exist_ok=True)
    if kind == "symlink-to-file":
        os.symlink(sandbox / "outside" / "secret", path)
    elif kind == "relative-symlink":
        os.symlink("../" * (len(path.relative_to(sandbox).parts) - 1) + "x", path)
    elif kind == "dangling-symlink":
        os.symlink(sandbox / "outside" / "created", path)
    elif kind == "symlink-to-dir":
        os.symlink(sandbox / "outside", path)
    elif kind == "hard-link":
        os.link(sandbox / "outside" / "secret", path)
    elif kind == "fifo":
        os.mkfifo(path)  # opening it for writing would block


class TestPlantedLinks:
    """A reused destination may hold links planted since the last extraction."""

    @pytest.mark.parametrize("kind", ["symlink-to-file", "relative-symlink", "dangling-symlink", "symlink-to-dir",
                                      "hard-link", "fifo"])
    @pytest.mark.parametrize("rel", ["index.js", "lib/util.js"])
    def test_whatever_stands_at_a_file_path_is_replaced(self, sandbox, kind, rel):
        dest = sandbox / "work" / "dest"
        before = outside_of(sandbox, os.path.join("work", "dest"))
        plant(kind, dest / rel, sandbox)
        assert extract(gz(tar(entry(f"package/{rel}", b"new"))), dest) == [rel]
        assert not os.path.islink(dest / rel)
        assert (dest / rel).read_bytes() == b"new"
        # Targets are untouched, and a hard link's other name is alone again.
        assert outside_of(sandbox, os.path.join("work", "dest")) == before

    @pytest.mark.parametrize("kind, planted_at, parts", [
        ("symlink-to-dir", "lib", [entry("package/lib/x.js", b"e")]),
        ("symlink-to-dir", "lib", [entry("package/lib/", type="5")]),
        ("symlink-to-dir", "lib", [entry("package/lib/deeper/", type="5")]),
        ("dangling-symlink", "lib", [entry("package/lib/x.js", b"e")]),
        ("symlink-to-file", "lib", [entry("package/lib/x.js", b"e")]),
        # Deep below dest, and in the middle of a path whose foot is new.
        ("symlink-to-dir", "d/" * 40 + "lnk", [named("package/" + "d/" * 40 + "lnk/secret", b"e")]),
        ("symlink-to-dir", "d/" * 40 + "lnk", [named("package/" + "d/" * 40 + "lnk/new/deeper/x", b"e")]),
    ])
    def test_a_link_where_a_directory_is_needed_fails(self, sandbox, kind, planted_at, parts):
        dest = sandbox / "work" / "dest"
        plant(kind, dest / planted_at, sandbox)
        before = snapshot(sandbox)
        assert failure(gz(tar(*parts)), dest) == EXISTS_TEXT
        assert snapshot(sandbox) == before

    def test_a_hard_linked_file_where_a_directory_is_needed_is_a_file(self, sandbox):
        dest = sandbox / "work" / "dest"
        plant("hard-link", dest / ("d/" * 100 + "f"), sandbox)
        before = snapshot(sandbox)
        data = gz(tar(named("package/" + "d/" * 100 + "f/new/x", b"e")))
        assert failure(data, dest) == "IO error: " + os_text(errno.ENOTDIR)
        assert snapshot(sandbox) == before

    def test_a_link_to_a_directory_inside_dest_fails_too(self, sandbox):
        dest = sandbox / "work" / "dest"
        (dest / "real").mkdir()
        os.symlink("real", dest / "alias")
        assert failure(gz(tar(entry("package/alias/f", b"e"))), dest) == EXISTS_TEXT
        assert tree(dest) == {"real": None, "alias": "link"}

    def test_dest_given_as_a_link_is_followed(self, sandbox):
        # dest itself is the caller's choice and is used as given.
        os.symlink(sandbox / "outside" / "nested", sandbox / "work" / "via")
        assert extract(gz(tar(entry("package/f", b"1"))), sandbox / "work" / "via") == ["f"]
        assert (sandbox / "outside" / "nested" / "f").read_bytes() == b"1"


class TestReusedDest:
    def test_upgrade_over_a_previous_version(self, tmp_path):
        first = gz(tar(entry("package/index.js", b"v1 index"), entry("package/lib/a.js", b"v1 a"),
                       entry("package/old.js", b"v1 only")))
        second = gz(tar(entry("package/index.js", b"v2"), entry("package/lib/a.js", b"v2 a"),
                        entry("package/lib/b.js", b"v2 b")))
        assert extract(first, tmp_path) == ["index.js", "lib/a.js", "old.js"]
        assert extract(second, tmp_path) == ["index.js", "lib/a.js", "lib/b.js"]
        assert tree(tmp_path) == {"index.js": b"v2", "lib": None, "lib/a.js": b"v2 a", "lib/b.js": b"v2 b",
                                  "old.js": b"v1 only"}

    def test_an_existing_file_is_rewritten_in_place(self, tmp_path):
        script = tmp_path / "run.sh"
        script.write_bytes(b"an old script, longer than the new one")
        os.chmod(script, 0o750)
        inode = script.stat().st_ino
        assert extract(gz(tar(entry("package/run.sh", b"new"))), tmp_path) == ["run.sh"]
        st = script.stat()
        assert (st.st_ino, stat.S_IMODE(st.st_mode), st.st_nlink) == (inode, 0o750, 1)
        assert script.read_bytes() == b"new"

    def test_an_unprivileged_caller_gets_what_opening_the_file_allows(self, shared_dir, run_unprivileged):
        # A writable file in a folder the caller cannot write is rewritten; a
        # read-only file of the caller's own is refused and kept.
        locked = os.path.join(shared_dir, "locked")
        os.mkdir(locked)
        for path, mode in [(os.path.join(locked, "w.txt"), 0o644), (os.path.join(shared_dir, "ro.txt"), 0o444)]:
            with open(path, "wb") as f:
                f.write(b"old")
            os.chmod(path, mode)
            if os.geteuid() == 0:
                os.chown(path, 65534, 65534)
        if os.geteuid() == 0:
            os.chown(locked, 65534, 65534)
        os.chmod(locked, 0o555)

        def child():
            assert extract(gz(tar(entry("package/w.txt", b"new"))), locked) == ["w.txt"]
            assert failure(gz(tar(entry("package/ro.txt", b"new"))), shared_dir) == \
                "IO error: " + os_text(errno.EACCES)

        run_unprivileged(child)
        os.chmod(locked, 0o755)
        assert tree(shared_dir) == {"locked": None, "locked/w.txt": b"new", "ro.txt": b"old"}

    @pytest.mark.skipif(os.geteuid() == 0, reason="permissions do not bind the superuser")
    def test_permission_failures_carry_the_system_description(self, tmp_path):
        locked = tmp_path / "locked"
        locked.mkdir()
        os.chmod(locked, 0o555)
        try:
            assert failure(gz(tar(entry("package/f", b"1"))), locked) == "IO error: " + os_text(errno.EACCES)
        finally:
            os.chmod(locked, 0o755)

    def test_folders_without_read_permission_are_still_written_into(self, shared_dir, build_records,
                                                                    run_unprivileged):
        # Handles on folders only anchor lookups, so write and search
        # permission are enough, for `dest` itself and for folders below it.
        if build_records["folder handles"] == "read":
            pytest.skip("this build opens folder handles for reading: its C library defines no O_SEARCH")
        dest = os.path.join(shared_dir, "dest")
        os.makedirs(os.path.join(dest, "d"))
        for folder in (dest, os.path.join(dest, "d")):
            if os.geteuid() == 0:
                os.chown(folder, 65534, 65534)
        os.chmod(os.path.join(dest, "d"), 0o333)
        os.chmod(dest, 0o300)

        def child():
            archive = gz(tar(entry("package/d/f", b"1"), entry("package/new/g", b"2"), entry("package/h", b"3")))
            assert extract(archive, dest) == ["d/f", "new/g", "h"]

        run_unprivileged(child)
        for folder in (dest, os.path.join(dest, "d")):
            os.chmod(folder, 0o755)
        assert tree(dest) == {"d": None, "d/f": b"1", "new": None, "new/g": b"2", "h": b"3"}


# Stands in for another process that re-creates a path as soon as it is
# removed: after each removal of a file named "contested", the first
# RECREATE removals are undone at once, by a FIFO (which is replaced, never
# opened).
RECREATOR = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <sys/stat.h>
int unlinkat(int dir, const char* path, int flags) {
  static int (*real)(int, const char*, int);
  static int recreated;
  if (!real) real = (int (*)(int, const char*, int))dlsym(RTLD_NEXT, "unlinkat");
  int result = real(dir, path, flags);
  if (strcmp(path, "contested") == 0 && recreated < atoi(getenv("RECREATE"))) {
    ++recreated;
    mkfifoat(dir, path, 0644);
  }
  return result;
}
"""

EXTRACT_CONTESTED = r"""
import sys
sys.path.insert(0, sys.argv[1])
from archive_builders import entry, extract, gz, tar
data = gz(tar(entry("package/contested", b"new")))
try:
    print(extract(data, sys.argv[2]))
except OSError as e:
    print(e.args[0])
"""


@pytest.mark.skipif(shutil.which("cc") is None, reason="needs a C compiler to build the stand-in")
@pytest.mark.parametrize("recreate, outcome", [
    (2, "['contested']"),                   # the fourth attempt gets through
    (10**6, "IO error: " + os_text(errno.EEXIST)),  # never: the last error, after a few attempts
])
def test_a_path_re_created_by_someone_else_is_retried_a_few_times(tmp_path, recreate, outcome):
    shim = tmp_path / "recreator.so"
    (tmp_path / "recreator.c").write_text(RECREATOR)
    subprocess.run(["cc", "-shared", "-fPIC", "-o", shim, tmp_path / "recreator.c", "-ldl"], check=True)
    dest = tmp_path / "dest"
    dest.mkdir()
    os.mkfifo(dest / "contested")
    # A preloaded sanitizer runtime must stay first.
    preload = " ".join(filter(None, [os.environ.get("LD_PRELOAD"), str(shim)]))
    env = dict(os.environ, LD_PRELOAD=preload, RECREATE=str(recreate))
    run = subprocess.run([sys.executable, "-c", EXTRACT_CONTESTED, os.path.dirname(__file__), str(dest)],
                         env=env, capture_output=True, text=True, timeout=60)
    assert run.stdout.strip() == outcome, run.stderr
    if recreate == 2:
        assert (dest / "contested").read_bytes() == b"new"
    else:
        assert stat.S_ISFIFO(os.lstat(dest / "contested").st_mode)


SEED_ARCHIVE = tar(
    pax({"path": "package/pax-named", "size": "3"}), header("package/x", 3, fmt="ustar") + b"abc" + bytes(509),
    long_name("package/" + "l" * 120), entry("package/short", b"long-named"),
    entry("package/dir/", type="5"), entry("package/dir/f", b"f" * 700),
    entry("README", b"top"), entry("package/fifo", type="6"),
    header("package/s", 0, type="S", extra={482: b"\0"}),
)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(edits=st.lists(st.tuples(st.integers(0, len(SEED_ARCHIVE) - 1), st.integers(0, 255)), min_size=1, max_size=8),
       cut=st.integers(0, len(SEED_ARCHIVE)))
def test_damaged_archives_fail_cleanly_and_stay_inside(tmp_path_factory, edits, cut):
    root = tmp_path_factory.mktemp("fuzz")
    (root / "outside").write_bytes(b"outside")
    raw = bytearray(SEED_ARCHIVE)
    for offset, value in edits:
        raw[offset] = value
    try:
        written = extract(gz(bytes(raw[:cut])), root / "dest")
    except OSError as e:
        assert type(e) is OSError and len(e.args) == 1 and isinstance(e.args[0], str)
    else:
        assert all(isinstance(p, str) for p in written)
    assert sorted(os.listdir(root)) == ["dest", "outside"]
    assert (root / "outside").read_bytes() == b"outside"
