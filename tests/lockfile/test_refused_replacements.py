"""Where a folder or the system refuses part of a replacement, write_lockfile
writes in place, succeeds and leaves nothing behind."""

import errno
import os
import re
import shutil
import subprocess
import sys

import pytest
from syscall_filter import needs_filters, run_refusing

import morvane_core


def doc(version):
    return f'{{"lockfileVersion":{version},"skills":{{}}}}'


def stored(version):
    return f'{{\n  "lockfileVersion": {version},\n  "skills": {{}}\n}}\n'.encode()


def os_text(errnum):
    return f"{os.strerror(errnum)} (os error {errnum})"


@pytest.mark.parametrize("flag, new_file_error", [("+a", None), ("+i", errno.EPERM)])
def test_an_append_only_or_immutable_folder_is_written_in_place(tmp_path, build_records, flag, new_file_error):
    # Such a folder takes no rename and lets no name go: a temporary file made
    # there would stay for good.
    if flag == "+a" and build_records["system calls"] == "portable":
        pytest.skip("the portable build has no way to ask Linux for a folder's flags "
                    "(st_flags is macOS's and the BSDs'): it leaves one temporary file per call")
    folder = tmp_path / "locks"
    folder.mkdir()
    lock = folder / "skills.lock"
    lock.write_bytes(b"old")
    inode = lock.stat().st_ino
    if shutil.which("chattr") is None:
        pytest.skip("chattr is not installed")
    flagged = subprocess.run(["chattr", flag, folder], capture_output=True, text=True)
    if flagged.returncode != 0:
        pytest.skip(f"chattr {flag} is refused here: {flagged.stderr.strip()}")
    try:
        for version in (1, 2, 3):
            morvane_core.write_lockfile(str(lock), doc(version))
        if new_file_error is None:
            morvane_core.write_lockfile(str(folder / "new.lock"), doc(4))
        else:
            with pytest.raises(OSError, match=re.escape(os_text(new_file_error))):
                morvane_core.write_lockfile(str(folder / "new.lock"), doc(4))
        names = sorted(os.listdir(folder))
    finally:
        subprocess.run(["chattr", "-" + flag[1:], folder], check=True)
    assert names == (["new.lock", "skills.lock"] if new_file_error is None else ["skills.lock"])
    assert (lock.read_bytes(), lock.stat().st_ino) == (stored(3), inode)
    if new_file_error is None:
        assert (folder / "new.lock").read_bytes() == stored(4)


# Holds the file open as descriptor N and writes through /<proc>/self/fd/N.
THROUGH_PROC = r"""
import os, sys, morvane_core
path, proc, text = sys.argv[1:]
fd = os.open(path, os.O_RDONLY)
morvane_core.write_lockfile(f"{proc}/self/fd/{fd}", text)
print(os.pread(fd, 1000, 0).decode(), end="")
"""


def test_a_descriptor_link_through_a_second_proc_mount_is_written_in_place(tmp_path, build_records):
    # A second mount of the proc file system (a container's view of the
    # host's) has a device number of its own.
    if build_records["system calls"] == "portable":
        pytest.skip("the portable build knows the proc file system by the device number of /proc alone")
    held, proc = tmp_path / "held.lock", tmp_path / "proc"
    held.write_bytes(b"old content")
    proc.mkdir()
    inode = held.stat().st_ino
    run = subprocess.run(["unshare", "-rm", "--pid", "--fork", "sh", "-c", 'mount -t proc proc "$1" && shift && exec "$@"',
                          "sh", proc, sys.executable, "-c", THROUGH_PROC, held, proc, doc(1)],
                         capture_output=True, text=True, timeout=60)
    if run.returncode != 0 and "Traceback" not in run.stderr:
        pytest.skip(f"no proc mount in new namespaces here: {run.stderr.strip()}")
    assert run.returncode == 0, run.stderr
    assert run.stdout == stored(1).decode()  # the holder reads the new text
    assert held.stat().st_ino == inode
    assert sorted(os.listdir(tmp_path)) == ["held.lock", "proc"]


@needs_filters
@pytest.mark.parametrize("errnum", [errno.EACCES, errno.EPERM, errno.ENOSYS, errno.EINVAL])
def test_a_refused_statx_never_makes_a_write_fail(tmp_path, errnum):
    lock = tmp_path / "skills.lock"
    lock.write_bytes(b"old")
    os.chmod(lock, 0o640)
    write_both = "import morvane_core; [morvane_core.write_lockfile(p, sys.argv[3]) for p in sys.argv[1:3]]"
    run_refusing("statx", errnum, write_both, lock, tmp_path / "new.lock", doc(1))
    assert oct(lock.stat().st_mode & 0o777) == oct(0o640)
    assert lock.read_bytes() == (tmp_path / "new.lock").read_bytes() == stored(1)
    assert sorted(os.listdir(tmp_path)) == ["new.lock", "skills.lock"]
