"""read_lockfile and write_lockfile on the file system: results, failures and what stays on disk."""

import errno
import os
import pathlib
import shutil
import stat
import subprocess
import sys
import tempfile

import pytest

import morvane_core

DOC = '{"lockfileVersion":1,"skills":{}}'
STORED = b'{\n  "lockfileVersion": 1,\n  "skills": {}\n}\n'
NOBODY = 65534  # the user the unprivileged tests run as


def os_text(errnum):
    """The message of a system failure: this system's text for the number, then the number."""
    return f"{os.strerror(errnum)} (os error {errnum})"


def os_error(fn, *args):
    """The one-argument OSError that `fn(*args)` raises, checked to be OSError itself."""
    with pytest.raises(OSError) as info:
        fn(*args)
    assert type(info.value) is OSError
    assert info.value.errno is None and info.value.strerror is None and info.value.filename is None
    assert len(info.value.args) == 1
    return info.value.args[0]


# Copies standard input into the named pipe in pieces of 1000 bytes.
FEED = """
import sys

data = sys.stdin.buffer.read()
with open(sys.argv[1], "wb") as f:
    for i in range(0, len(data), 1000):
        f.write(data[i:i + 1000])
        f.flush()
"""


def listing(path):
    return sorted(os.listdir(path))


class TestRead:
    @pytest.mark.parametrize(
        "make, name, message",
        [
            (None, "none.lock", os_text(errno.ENOENT)),
            (None, "none/x.lock", os_text(errno.ENOENT)),
            ("dir", "d", os_text(errno.EISDIR)),
            ("file", "f/x", os_text(errno.ENOTDIR)),
            ("loop", "a", os_text(errno.ELOOP)),
        ],
    )
    def test_open_failures(self, tmp_path, make, name, message):
        if make == "dir":
            (tmp_path / "d").mkdir()
        elif make == "file":
            (tmp_path / "f").write_bytes(b"")
        elif make == "loop":
            (tmp_path / "a").symlink_to("b")
            (tmp_path / "b").symlink_to("a")
        assert os_error(morvane_core.read_lockfile, str(tmp_path / name)) == message

    @pytest.mark.parametrize("path", ["a\0b", "\0", "/tmp/\0/x"])
    def test_nul_in_path(self, path):
        assert os_error(morvane_core.read_lockfile, path) == "file name contained an unexpected NUL byte"

    def test_empty_file(self, tmp_path):
        (tmp_path / "e.lock").write_bytes(b"")
        assert os_error(morvane_core.read_lockfile, str(tmp_path / "e.lock")) == (
            "EOF while parsing a value at line 1 column 0"
        )

    def test_byte_order_mark(self, tmp_path):
        (tmp_path / "b.lock").write_bytes(b"\xef\xbb\xbf" + DOC.encode())
        assert os_error(morvane_core.read_lockfile, str(tmp_path / "b.lock")) == "expected value at line 1 column 1"

    @pytest.mark.parametrize(
        "bad",
        [
            b"\xff",
            b"\x80",
            b"\xc0\x80",  # overlong NUL
            b"\xc1\xbf",
            b"\xe0\x80\xaf",  # overlong slash
            b"\xed\xa0\x80",  # surrogate D800
            b"\xed\xbf\xbf",  # surrogate DFFF
            b"\xf4\x90\x80\x80",  # above U+10FFFF
            b"\xf5\x80\x80\x80",
            b"\xf8\x88\x80\x80\x80",
            b"\xe6\x97",  # truncated at the end of the text
            b"\xe6\x97x",
            b"\xc3\xa9\xa9",  # stray continuation after a whole character
        ],
    )
    @pytest.mark.parametrize("where", ["string", "after", "junk"])
    def test_invalid_utf8(self, tmp_path, bad, where):
        if where == "string":
            data = b'{"lockfileVersion":1,"skills":{},"x":"' + bad + b'"}'
        elif where == "after":
            data = b'{"lockfileVersion":1,"skills":{}}' + b" " * 40 + bad
        else:  # invalid JSON as well: the encoding is checked first
            data = bad + b"{{{"
        (tmp_path / "u.lock").write_bytes(data)
        assert os_error(morvane_core.read_lockfile, str(tmp_path / "u.lock")) == "stream did not contain valid UTF-8"

    @pytest.mark.parametrize(
        "good", ["é", "日本語", "\U0001F600", "\u07ff\u0800\uffff\U00010000\U0010ffff", "\ud7ff\ue000"]
    )
    def test_valid_utf8_boundaries(self, tmp_path, good):
        data = ('{"lockfileVersion":1,"skills":{},"x":"' + "a" * 17 + good + '"}').encode()
        (tmp_path / "v.lock").write_bytes(data)
        assert morvane_core.read_lockfile(str(tmp_path / "v.lock")) == DOC

    def test_json_error_is_an_os_error(self, tmp_path):
        (tmp_path / "j.lock").write_text('{\n"lockfileVersion": 1\n}')
        assert os_error(morvane_core.read_lockfile, str(tmp_path / "j.lock")) == (
            "missing field `skills` at line 3 column 1"
        )

    def test_relative_path(self, tmp_path, monkeypatch):
        (tmp_path / "rel.lock").write_text(DOC)
        monkeypatch.chdir(tmp_path)
        assert morvane_core.read_lockfile("rel.lock") == DOC

    def test_reads_to_the_end_whatever_size_is_known(self, tmp_path):
        # A pipe has no size: the buffer grows as bytes arrive, in small pieces.
        # The feeder is another process, as the read holds the interpreter lock.
        fifo = tmp_path / "pipe.lock"
        os.mkfifo(fifo)
        skills = ",".join(f'"s{i:05d}":["1.0.0","x",[null,null,null],null]' for i in range(2000))
        text = '{"lockfileVersion":1,"skills":{' + skills + "}}"
        feeder = subprocess.Popen(
            [sys.executable, "-c", FEED, str(fifo)], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL
        )
        feeder.stdin.write(text.encode())
        feeder.stdin.close()
        try:
            out = morvane_core.read_lockfile(str(fifo))
        finally:
            assert feeder.wait(timeout=30) == 0
        assert out.count('"resolved":"1.0.0"') == 2000 and len(text) > 3 * 8192

    def test_character_device_of_no_content(self):
        assert os_error(morvane_core.read_lockfile, "/dev/null") == "EOF while parsing a value at line 1 column 0"


class TestWrite:
    def test_creates_and_replaces(self, tmp_path):
        path = tmp_path / "w.lock"
        morvane_core.write_lockfile(str(path), DOC)
        assert path.read_bytes() == STORED
        morvane_core.write_lockfile(str(path), '{"lockfileVersion":2,"skills":{}}')
        assert path.read_bytes() == STORED.replace(b"1", b"2")
        assert listing(tmp_path) == ["w.lock"]

    # A file beyond what 32 bits can size (sparse) is replaced too, wherever a
    # file's size and offsets were 32 bits wide by default (i686, armv7l).
    @pytest.mark.parametrize("size", [100_000, 5 << 30])
    def test_replaces_a_longer_file_completely(self, tmp_path, size):
        path = tmp_path / "w.lock"
        path.write_bytes(b"x" * 100_000)
        os.truncate(path, size)
        morvane_core.write_lockfile(str(path), DOC)
        assert path.read_bytes() == STORED

    @pytest.mark.parametrize("bad", ["", "{", "[1]", '{"lockfileVersion":1}', "null"])
    def test_invalid_content_leaves_the_file_untouched(self, tmp_path, bad):
        path = tmp_path / "w.lock"
        path.write_bytes(b"old content")
        os.chmod(path, 0o600)
        with pytest.raises(ValueError):
            morvane_core.write_lockfile(str(path), bad)
        assert path.read_bytes() == b"old content"
        assert stat.S_IMODE(path.stat().st_mode) == 0o600
        assert listing(tmp_path) == ["w.lock"]

    def test_invalid_content_is_reported_before_the_path(self, tmp_path):
        with pytest.raises(ValueError) as info:
            morvane_core.write_lockfile("a\0b", "{")
        assert info.value.args == ("EOF while parsing an object at line 1 column 1",)

    @pytest.mark.parametrize("path", ["a\0b", "\0"])
    def test_nul_in_path(self, path):
        assert os_error(morvane_core.write_lockfile, path, DOC) == "file name contained an unexpected NUL byte"

    def test_missing_directory_creates_nothing(self, tmp_path):
        target = tmp_path / "none" / "deeper" / "w.lock"
        assert os_error(morvane_core.write_lockfile, str(target), DOC) == os_text(errno.ENOENT)
        assert os_error(morvane_core.write_lockfile, str(tmp_path / "none" / "w.lock"), DOC) == (
            os_text(errno.ENOENT)
        )
        assert listing(tmp_path) == []

    @pytest.mark.parametrize("suffix", ["", "/", "/.", "/sub/.."])
    def test_directory_as_path(self, tmp_path, suffix):
        (tmp_path / "sub").mkdir()
        assert os_error(morvane_core.write_lockfile, str(tmp_path) + suffix, DOC) == os_text(errno.EISDIR)
        assert listing(tmp_path) == ["sub"]

    def test_trailing_slash_on_a_new_name(self, tmp_path):
        assert os_error(morvane_core.write_lockfile, str(tmp_path / "new") + "/", DOC) == (
            os_text(errno.EISDIR)
        )
        assert listing(tmp_path) == []

    def test_path_through_a_file(self, tmp_path):
        (tmp_path / "f").write_bytes(b"keep")
        assert os_error(morvane_core.write_lockfile, str(tmp_path / "f" / "w.lock"), DOC) == (
            os_text(errno.ENOTDIR)
        )
        assert (tmp_path / "f").read_bytes() == b"keep"

    def test_empty_path(self):
        assert os_error(morvane_core.write_lockfile, "", DOC) == os_text(errno.ENOENT)

    def test_relative_path(self, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        morvane_core.write_lockfile("rel.lock", DOC)
        assert (tmp_path / "rel.lock").read_bytes() == STORED
        assert listing(tmp_path) == ["rel.lock"]

    @pytest.mark.parametrize("mode", [0o600, 0o640, 0o644, 0o755, 0o444 | 0o200, 0o4755])
    def test_existing_file_keeps_its_permission_bits(self, tmp_path, mode):
        path = tmp_path / "w.lock"
        path.write_bytes(b"old")
        os.chmod(path, mode)
        morvane_core.write_lockfile(str(path), DOC)
        assert stat.S_IMODE(path.stat().st_mode) == mode
        assert path.read_bytes() == STORED

    @pytest.mark.parametrize("umask", [0o022, 0o077, 0o000, 0o027])
    def test_new_file_gets_0666_less_the_umask(self, tmp_path, umask):
        old = os.umask(umask)
        try:
            morvane_core.write_lockfile(str(tmp_path / "n.lock"), DOC)
        finally:
            os.umask(old)
        assert stat.S_IMODE((tmp_path / "n.lock").stat().st_mode) == 0o666 & ~umask

    def test_replacement_is_a_new_file_renamed_into_place(self, tmp_path):
        path = tmp_path / "w.lock"
        path.write_bytes(b"old")
        old = open(path, "rb")  # a reader that opened the old file keeps seeing it
        try:
            morvane_core.write_lockfile(str(path), DOC)
            assert old.read() == b"old"
        finally:
            old.close()
        assert path.read_bytes() == STORED

    def test_symlink_is_kept_and_its_target_replaced(self, tmp_path):
        (tmp_path / "real").mkdir()
        target = tmp_path / "real" / "target.lock"
        target.write_bytes(b"old")
        os.chmod(target, 0o640)
        link = tmp_path / "link.lock"
        link.symlink_to("real/target.lock")
        morvane_core.write_lockfile(str(link), DOC)
        assert link.is_symlink() and os.readlink(link) == "real/target.lock"
        assert target.read_bytes() == STORED
        assert stat.S_IMODE(target.stat().st_mode) == 0o640
        assert listing(tmp_path) == ["link.lock", "real"] and listing(tmp_path / "real") == ["target.lock"]

    def test_chain_of_symlinks_with_absolute_and_relative_targets(self, tmp_path):
        (tmp_path / "a").mkdir()
        (tmp_path / "b").mkdir()
        final = tmp_path / "b" / "final.lock"
        final.write_bytes(b"old")
        (tmp_path / "b" / "mid").symlink_to("final.lock")
        (tmp_path / "a" / "first").symlink_to(str(tmp_path / "b" / "mid"))
        morvane_core.write_lockfile(str(tmp_path / "a" / "first"), DOC)
        assert final.read_bytes() == STORED
        assert (tmp_path / "a" / "first").is_symlink() and (tmp_path / "b" / "mid").is_symlink()
        assert listing(tmp_path / "a") == ["first"] and listing(tmp_path / "b") == ["final.lock", "mid"]

    def test_dangling_symlink_creates_its_target(self, tmp_path):
        (tmp_path / "link.lock").symlink_to("created.lock")
        morvane_core.write_lockfile(str(tmp_path / "link.lock"), DOC)
        assert (tmp_path / "created.lock").read_bytes() == STORED
        assert (tmp_path / "link.lock").is_symlink()

    def test_symlink_loop(self, tmp_path):
        (tmp_path / "a").symlink_to("b")
        (tmp_path / "b").symlink_to("a")
        assert os_error(morvane_core.write_lockfile, str(tmp_path / "a"), DOC) == (
            os_text(errno.ELOOP)
        )
        assert listing(tmp_path) == ["a", "b"]

    def test_symlink_to_a_directory(self, tmp_path):
        (tmp_path / "d").mkdir()
        (tmp_path / "link").symlink_to("d")
        assert os_error(morvane_core.write_lockfile, str(tmp_path / "link"), DOC) == os_text(errno.EISDIR)
        assert listing(tmp_path / "d") == []

    def test_long_file_name(self, tmp_path):
        # The temporary name stays within the 255-byte limit of a name.
        path = tmp_path / ("n" * 255)
        morvane_core.write_lockfile(str(path), DOC)
        assert path.read_bytes() == STORED
        assert listing(tmp_path) == ["n" * 255]

    def test_character_device_is_written_in_place(self):
        morvane_core.write_lockfile("/dev/null", DOC)
        assert stat.S_ISCHR(os.stat("/dev/null").st_mode)

    @pytest.mark.skipif(os.geteuid() != 0, reason="changing a file's owner needs root")
    def test_owner_is_kept(self, tmp_path):
        path = tmp_path / "owned.lock"
        path.write_bytes(b"old")
        os.chown(path, 4321, 8765)
        morvane_core.write_lockfile(str(path), DOC)
        st = path.stat()
        assert (st.st_uid, st.st_gid) == (4321, 8765)
        assert path.read_bytes() == STORED


# Permission checks, as a user whom permission bits bind (root's are overridden).

def owned_file(path, content, mode):
    with open(path, "wb") as f:
        f.write(content)
    if os.geteuid() == 0:
        os.chown(path, NOBODY, NOBODY)
    os.chmod(path, mode)


class TestPermissions:
    def test_read_only_file_is_refused_and_kept(self, shared_dir, run_unprivileged):
        path = os.path.join(shared_dir, "ro.lock")
        owned_file(path, b"old", 0o444)

        def child():
            assert os_error(morvane_core.write_lockfile, path, DOC) == os_text(errno.EACCES)

        run_unprivileged(child)
        assert open(path, "rb").read() == b"old"
        assert listing(shared_dir) == ["ro.lock"]

    def test_unreadable_file(self, shared_dir, run_unprivileged):
        path = os.path.join(shared_dir, "secret.lock")
        owned_file(path, DOC.encode(), 0o200)

        def child():
            assert os_error(morvane_core.read_lockfile, path) == os_text(errno.EACCES)

        run_unprivileged(child)

    def test_read_only_directory_writes_a_writable_file_in_place(self, shared_dir, run_unprivileged):
        path = os.path.join(shared_dir, "w.lock")
        owned_file(path, b"old", 0o644)
        os.chmod(shared_dir, 0o555)

        def child():
            inode = os.stat(path).st_ino
            morvane_core.write_lockfile(path, DOC)
            assert os.stat(path).st_ino == inode

        run_unprivileged(child)
        assert open(path, "rb").read() == STORED
        assert listing(shared_dir) == ["w.lock"]

    def test_read_only_directory_refuses_a_new_file(self, shared_dir, run_unprivileged):
        os.chmod(shared_dir, 0o555)

        def child():
            path = os.path.join(shared_dir, "new.lock")
            assert os_error(morvane_core.write_lockfile, path, DOC) == os_text(errno.EACCES)

        run_unprivileged(child)
        assert listing(shared_dir) == []

    def test_directory_without_search_permission(self, shared_dir, run_unprivileged):
        inner = os.path.join(shared_dir, "inner")
        os.mkdir(inner)
        if os.geteuid() == 0:
            os.chown(inner, NOBODY, NOBODY)
        os.chmod(inner, 0o600)

        def child():
            path = os.path.join(inner, "x.lock")
            assert os_error(morvane_core.write_lockfile, path, DOC) == os_text(errno.EACCES)
            assert os_error(morvane_core.read_lockfile, path) == os_text(errno.EACCES)

        run_unprivileged(child)
        os.chmod(inner, 0o700)
        assert listing(inner) == []

    def test_directory_without_read_permission(self, shared_dir, build_records, run_unprivileged):
        # Where the folder's handle needs search permission alone (Linux's
        # O_PATH, O_SEARCH elsewhere) the file is replaced; where it needs
        # read permission too, the file is written in place.
        path = os.path.join(shared_dir, "x.lock")
        owned_file(path, b"old", 0o644)
        inode = os.stat(path).st_ino
        os.chmod(shared_dir, 0o311)
        run_unprivileged(lambda: morvane_core.write_lockfile(path, DOC))
        os.chmod(shared_dir, 0o755)
        assert (os.stat(path).st_ino == inode) == (build_records["folder handles"] == "read")
        assert open(path, "rb").read() == STORED
        assert listing(shared_dir) == ["x.lock"]

    @pytest.mark.skipif(os.geteuid() != 0, reason="needs a file owned by another user")
    def test_sticky_directory_writes_another_users_file_in_place(self, shared_dir, run_unprivileged):
        # The directory lets nobody create files but not replace root's file;
        # the file itself is writable by all.
        os.chown(shared_dir, 0, 0)
        os.chmod(shared_dir, 0o1777)
        path = os.path.join(shared_dir, "shared.lock")
        with open(path, "wb") as f:
            f.write(b"old")
        os.chmod(path, 0o666)
        inode = os.stat(path).st_ino

        run_unprivileged(lambda: morvane_core.write_lockfile(path, DOC))
        st = os.stat(path)
        assert (st.st_ino, st.st_uid) == (inode, 0)
        assert open(path, "rb").read() == STORED
        assert listing(shared_dir) == ["shared.lock"]


class TestWhatAReplacementWouldChange:
    """Where a new file could not keep what writing in place keeps, the file is
    written in place."""

    def test_other_hard_links_see_the_new_content(self, tmp_path):
        path = tmp_path / "a.lock"
        path.write_bytes(b"old")
        os.link(path, tmp_path / "b.lock")
        inode = path.stat().st_ino
        morvane_core.write_lockfile(str(path), DOC)
        assert (tmp_path / "b.lock").read_bytes() == path.read_bytes() == STORED
        assert path.stat().st_ino == inode
        assert listing(tmp_path) == ["a.lock", "b.lock"]

    @pytest.mark.skipif(os.geteuid() != 0, reason="needs files owned by another user")
    @pytest.mark.parametrize("mode, owner, writer", [
        (0o666, (0, 0), NOBODY),           # a new file could not be given to root
        (0o6777, (0, 0), NOBODY),          # nor could it carry set-user-ID under another owner
        (0o6755, (4321, 8765), 0),         # set-user-ID and set-group-ID bits
        (0o1644, (4321, 8765), 0),         # the sticky bit
    ])
    def test_owner_group_and_special_bits(self, shared_dir, mode, owner, writer, run_unprivileged):
        os.chmod(shared_dir, 0o777)
        path = os.path.join(shared_dir, "x.lock")
        with open(path, "wb") as f:
            f.write(b"old")
        os.chown(path, *owner)
        os.chmod(path, mode)
        inode = os.stat(path).st_ino
        write = lambda: morvane_core.write_lockfile(path, DOC)  # noqa: E731
        run_unprivileged(write) if writer == NOBODY else write()
        st = os.stat(path)
        assert (st.st_ino, st.st_uid, st.st_gid) == (inode, *owner)
        # Writing clears set-user-ID and set-group-ID for a writer without the
        # right to keep them, as the system does for any write in place.
        assert stat.S_IMODE(st.st_mode) == (mode if writer == 0 else mode & 0o1777)
        assert open(path, "rb").read() == STORED
        assert listing(shared_dir) == ["x.lock"]

    def test_dev_stdout_on_a_pipe_receives_the_document(self, tmp_path):
        code = "import sys, morvane_core; morvane_core.write_lockfile('/dev/stdout', sys.argv[1])"
        run = subprocess.run([sys.executable, "-c", code, DOC], capture_output=True, cwd=tmp_path, timeout=60)
        assert run.returncode == 0, run.stderr
        assert run.stdout == STORED
        assert listing(tmp_path) == []

    @pytest.mark.parametrize("shape", ["/proc/self/fd/{fd}", "/dev/fd/{fd}"])
    def test_descriptor_link_to_a_live_file(self, tmp_path, shape):
        path = tmp_path / "held.lock"
        path.write_bytes(b"old content")
        inode = path.stat().st_ino
        fd = os.open(path, os.O_RDONLY)
        try:
            morvane_core.write_lockfile(shape.format(fd=fd), DOC)
            assert os.pread(fd, 1000, 0) == STORED  # the holder sees the new content
        finally:
            os.close(fd)
        assert path.stat().st_ino == inode
        assert listing(tmp_path) == ["held.lock"]

    def test_dev_stdout_on_a_file_keeps_the_caller_output(self, tmp_path):
        code = "import sys, morvane_core; morvane_core.write_lockfile('/dev/stdout', sys.argv[1]); print('after')"
        with open(tmp_path / "out.json", "ab") as out:  # a shell's `>> out.json`
            run = subprocess.run([sys.executable, "-c", code, DOC], stdout=out, stderr=subprocess.PIPE, timeout=60)
        assert run.returncode == 0, run.stderr
        assert (tmp_path / "out.json").read_bytes() == STORED + b"after\n"

    @pytest.mark.parametrize("source_dir", ["same file system", "/dev/shm"])
    def test_a_bind_mounted_file_is_written_in_place(self, tmp_path, source_dir):
        if subprocess.run(["unshare", "-rm", "true"], capture_output=True).returncode != 0:
            pytest.skip("no user and mount namespaces here")
        source = pathlib.Path(tempfile.mkdtemp(dir=None if source_dir == "same file system" else source_dir))
        try:
            (source / "mounted.lock").write_bytes(b"old")
            target = tmp_path / "skills-lock.json"
            target.write_bytes(b"")
            code = "import sys, morvane_core; morvane_core.write_lockfile(sys.argv[1], sys.argv[2])"
            mount_and_write = 'mount --bind "$1" "$2" && "$3" -c "$4" "$2" "$5"'
            run = subprocess.run(["unshare", "-rm", "sh", "-c", mount_and_write, "sh", source / "mounted.lock",
                                  target, sys.executable, code, DOC], capture_output=True, text=True, timeout=60)
            assert run.returncode == 0, run.stderr
            assert (source / "mounted.lock").read_bytes() == STORED
        finally:
            shutil.rmtree(source)

    def test_a_file_of_an_overlay_over_two_file_systems_is_replaced(self, tmp_path, build_records):
        # The file lies in a tmpfs lower layer, so its device number differs
        # from its folder's (the overlay's own) though it is no mount point.
        # Only Linux's statx tells that; elsewhere such a file is taken for a
        # mount point and written in place.
        replaced = build_records["system calls"] == "linux"
        if subprocess.run(["unshare", "-rm", "true"], capture_output=True).returncode != 0:
            pytest.skip("no user and mount namespaces here")
        for name in ("lower", "upper", "work", "merged"):
            (tmp_path / name).mkdir()
        code = ("import os, sys, morvane_core; path = sys.argv[1]; st = os.stat(path);"
                "assert st.st_dev != os.stat(os.path.dirname(path)).st_dev;"
                "morvane_core.write_lockfile(path, sys.argv[2]);"
                "print(os.stat(path).st_ino != st.st_ino, sorted(os.listdir(os.path.dirname(path))),"
                " open(path, 'rb').read() == sys.argv[3].encode())")
        layers = 'lowerdir={0}/lower,upperdir={0}/upper,workdir={0}/work'.format(tmp_path)
        mount_and_write = ('mount -t tmpfs none "$1/lower" && echo old > "$1/lower/skills.lock" && '
                           'mount -t overlay overlay -o "$2" "$1/merged" && '
                           '"$3" -c "$4" "$1/merged/skills.lock" "$5" "$6"')
        run = subprocess.run(["unshare", "-rm", "sh", "-c", mount_and_write, "sh", tmp_path, layers,
                              sys.executable, code, DOC, STORED.decode()], capture_output=True, text=True, timeout=60)
        if run.returncode != 0 and "mount" in run.stderr and "Traceback" not in run.stderr:
            pytest.skip(f"no overlay mount in a user namespace here: {run.stderr.strip()}")
        assert run.returncode == 0, run.stderr
        assert run.stdout == f"{replaced} ['skills.lock'] True\n"

    def test_descriptor_of_a_deleted_file(self, tmp_path):
        fd = os.open(tmp_path / "log.txt", os.O_RDWR | os.O_CREAT, 0o644)
        try:
            os.unlink(tmp_path / "log.txt")
            morvane_core.write_lockfile(f"/proc/self/fd/{fd}", DOC)
            os.lseek(fd, 0, os.SEEK_SET)
            assert os.read(fd, 1000) == STORED
        finally:
            os.close(fd)
        assert listing(tmp_path) == []
