"""Where a folder or the system refuses part of a replacement, write_lockfile
writes in place, succeeds and leaves nothing behind."""

import errno
import os
import re
import shutil
import subprocess
import sys

import pytest
from syscall_filter import run_refusing

import morvane_core


def doc(version):
    return f'{{"lockfileVersion":{version},"skills":{{}}}}'


def stored(version):
    return f'{{\n  "lockfileVersion": {version},\n  "skills": {{}}\n}}\n'.encode()


def os_text(errnum):
    return f"{os.strerror(errnum)} (os error {errnum})"


# Three replacements of a lockfile, then a new one, in the folder sys.argv[1];
# prints what each call came to.
FOUR_WRITES = r"""
import morvane_core
folder = sys.argv[1]
for version, name in ((1, "skills.lock"), (2, "skills.lock"), (3, "skills.lock"), (4, "new.lock")):
    try:
        morvane_core.write_lockfile(f"{folder}/{name}", '{"lockfileVersion":%d,"skills":{}}' % version)
        print("ok")
    except OSError as e:
        print(e)
"""


@pytest.mark.parametrize("flag, statx_error, new_file_error", [
    ("+a", None, None),
    # Where statx is refused, the folder's flags are asked for another way.
    ("+a", errno.EPERM, None),
    ("+a", errno.EACCES, None),
    ("+a", errno.ENOSYS, None),
    ("+i", None, errno.EPERM),
])
def test_an_append_only_or_immutable_folder_is_written_in_place(tmp_path, build_records, flag, statx_error,
                                                                new_file_error):
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
        if statx_error is None:
            out = subprocess.run([sys.executable, "-c", "import sys" + FOUR_WRITES, folder], capture_output=True,
                                 text=True, timeout=60, check=True).stdout
        else:
            out = run_refusing("statx", statx_error, FOUR_WRITES, folder)
        names = sorted(os.listdir(folder))
    finally:
        subprocess.run(["chattr", "-" + flag[1:], folder], check=True)
    assert out.splitlines() == ["ok"] * 3 + ["ok" if new_file_error is None else os_text(new_file_error)]
    assert names == (["new.lock", "skills.lock"] if new_file_error is None else ["skills.lock"])
    assert (lock.read_bytes(), lock.stat().st_ino) == (stored(3), inode)
    if new_file_error is None:
        assert (folder / "new.lock").read_bytes() == stored(4)


# Holds the file open as descriptor N and writes through /<proc>/self/fd/N;
# prints what the holder then reads.
THROUGH_PROC = r"""
import os, sys, morvane_core
path, proc, text = sys.argv[1:]
fd = os.open(path, os.O_RDONLY)
morvane_core.write_lockfile(f"{proc}/self/fd/{fd}", text)
print(os.pread(fd, 1000, 0).decode(), end="")
"""


def through_a_second_proc_mount(tmp_path, held, build_records):
    # A second mount of the proc file system (a container's view of the
    # host's) has a device number of its own.
    if build_records["system calls"] == "portable":
        pytest.skip("the portable build knows the proc file system by the device number of /proc alone")
    proc = tmp_path / "proc"
    proc.mkdir()
    run = subprocess.run(["unshare", "-rm", "--pid", "--fork", "sh", "-c", 'mount -t proc proc "$1" && shift && exec "$@"',
                          "sh", proc, sys.executable, "-c", THROUGH_PROC, held, proc, doc(1)],
                         capture_output=True, text=True, timeout=60)
    if run.returncode != 0 and "Traceback" not in run.stderr:
        pytest.skip(f"no proc mount in new namespaces here: {run.stderr.strip()}")
    assert run.returncode == 0, run.stderr
    return run.stdout


def with_statfs_refused(tmp_path, held, build_records):
    # The file system's type cannot be asked for: the link is still known by
    # the device of the process's own /proc.
    return run_refusing("statfs", errno.EPERM, THROUGH_PROC, held, "/proc", doc(1))


@pytest.mark.parametrize("way", [through_a_second_proc_mount, with_statfs_refused], ids=lambda way: way.__name__)
def test_a_descriptor_link_is_written_in_place(tmp_path, build_records, way):
    held = tmp_path / "held.lock"
    held.write_bytes(b"old content")
    inode = held.stat().st_ino
    assert way(tmp_path, held, build_records) == stored(1).decode()  # the holder reads the new text
    assert held.stat().st_ino == inode
    assert sorted(set(os.listdir(tmp_path)) - {"proc"}) == ["held.lock"]


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
