"""Extraction on a kernel without openat2 gives the same results.

A child process where openat2 fails with ENOSYS, as on an older kernel, runs
the destination and layout tests, so that every folder is reached by the walk
one piece at a time.
"""

import errno
import pathlib

from syscall_filter import run_refusing

HERE = pathlib.Path(__file__).resolve().parent

CHILD = r"""
import ctypes, errno, pytest
if ctypes.CDLL(None, use_errno=True).syscall(437, -100, b".", None, 0) != -1 or ctypes.get_errno() != errno.ENOSYS:
    sys.exit("the filter does not hide openat2")
sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", *sys.argv[1:]]))
"""


def test_destination_and_layout_tests_pass_without_openat2(tmp_path):
    files = [HERE / "test_dest_safety.py", HERE / "test_extract_layout.py"]
    out = run_refusing("openat2", errno.ENOSYS, CHILD, *files, "--basetemp", tmp_path / "base",
                       timeout=600, cwd=HERE.parent.parent)
    assert " passed" in out and " failed" not in out
