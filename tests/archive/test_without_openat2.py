"""Extraction on a kernel without openat2 gives the same results.

A child process installs a system-call filter that answers openat2 with
ENOSYS, as an older kernel does, and runs the destination and layout tests
under it, so that every folder is reached by the walk one piece at a time.
"""

import os
import pathlib
import platform
import subprocess
import sys

import pytest

HERE = pathlib.Path(__file__).resolve().parent

# The child's exit status when the system installs no system-call filter.
NO_FILTERS = 77

CHILD = r"""
import ctypes, errno, sys

NO_FILTERS = %d

SYS_OPENAT2 = 437  # the same number on x86-64 and arm64
libc = ctypes.CDLL(None, use_errno=True)

class SockFilter(ctypes.Structure):
    _fields_ = [("code", ctypes.c_ushort), ("jt", ctypes.c_ubyte), ("jf", ctypes.c_ubyte), ("k", ctypes.c_uint)]

class SockFprog(ctypes.Structure):
    _fields_ = [("len", ctypes.c_ushort), ("filter", ctypes.POINTER(SockFilter))]

program = (SockFilter * 4)(
    SockFilter(0x20, 0, 0, 0),                      # load the system call number
    SockFilter(0x15, 0, 1, SYS_OPENAT2),            # openat2?
    SockFilter(0x06, 0, 0, 0x00050000 | errno.ENOSYS),  # then fail with ENOSYS
    SockFilter(0x06, 0, 0, 0x7FFF0000),             # else allow
)
fprog = SockFprog(len(program), program)
PR_SET_NO_NEW_PRIVS, PR_SET_SECCOMP, SECCOMP_MODE_FILTER = 38, 22, 2
if libc.prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0):
    sys.exit("cannot forgo new privileges: " + errno.errorcode[ctypes.get_errno()])
# A filter that allows everything: refused only where the system takes no
# filter at all (qemu-user, which runs the arm64 wheel's tests elsewhere).
allow_all = (SockFilter * 1)(SockFilter(0x06, 0, 0, 0x7FFF0000))
if libc.prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, ctypes.byref(SockFprog(1, allow_all)), 0, 0):
    sys.exit(NO_FILTERS)
if libc.prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, ctypes.byref(fprog), 0, 0):
    sys.exit("cannot install the filter: " + errno.errorcode[ctypes.get_errno()])
if libc.syscall(SYS_OPENAT2, -100, b".", None, 0) != -1 or ctypes.get_errno() != errno.ENOSYS:
    sys.exit("the filter does not hide openat2")

import pytest
sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", *sys.argv[1:]]))
""" % NO_FILTERS


@pytest.mark.skipif(platform.machine() not in ("x86_64", "aarch64"), reason="filter written for x86-64 and arm64")
def test_destination_and_layout_tests_pass_without_openat2(tmp_path):
    files = [str(HERE / "test_dest_safety.py"), str(HERE / "test_extract_layout.py")]
    run = subprocess.run([sys.executable, "-c", CHILD, *files, "--basetemp", str(tmp_path / "base")],
                         cwd=HERE.parent.parent, capture_output=True, text=True, timeout=600)
    if run.returncode == NO_FILTERS:
        pytest.skip("this system installs no system-call filter (as under qemu-user)")
    assert run.returncode == 0, run.stdout[-3000:] + run.stderr[-3000:]
    assert " passed" in run.stdout and " failed" not in run.stdout
