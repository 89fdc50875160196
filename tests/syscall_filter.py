"""Runs Python code in a child process where the kernel answers one system
call with an error, as a container's system-call filter (seccomp) or an older
kernel may."""

import platform
import subprocess
import sys

import pytest

# The numbers of the calls the tests refuse, by processor.
NUMBERS = {
    "x86_64": {"fsetxattr": 190, "statx": 332, "statfs": 137, "ioctl": 16, "openat2": 437},
    "aarch64": {"fsetxattr": 7, "statx": 291, "statfs": 43, "ioctl": 29, "openat2": 437},
}
AUDIT_ARCH = {"x86_64": 0xC000003E, "aarch64": 0xC00000B7}


PRELUDE = r"""
import ctypes, struct, sys

def insn(code, k, jt=0, jf=0):
    return struct.pack("=HBBI", code, jt, jf, k)

LD_ABS, JEQ, RET = 0x20, 0x15, 0x06
ALLOW, ERRNO = 0x7FFF0000, 0x00050000
program = b"".join([
    insn(LD_ABS, 4), insn(JEQ, {arch}, 1, 0), insn(RET, ALLOW),  # another ABI: allowed
    insn(LD_ABS, 0), insn(JEQ, {number}, 0, 1), insn(RET, ERRNO | {errnum}),
    insn(RET, ALLOW),
])

class SockFprog(ctypes.Structure):
    _fields_ = [("len", ctypes.c_ushort), ("filter", ctypes.c_char_p)]

libc = ctypes.CDLL(None, use_errno=True)
PR_SET_NO_NEW_PRIVS, PR_SET_SECCOMP, SECCOMP_MODE_FILTER = 38, 22, 2
if libc.prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0):
    sys.exit(f"cannot forgo new privileges: {{ctypes.get_errno()}}")
# A filter that allows everything is refused only where the system takes no
# filter at all (qemu-user).
allow_all = insn(RET, ALLOW)
if libc.prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, ctypes.byref(SockFprog(1, allow_all))):
    sys.exit({no_filters})
if libc.prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, ctypes.byref(SockFprog(len(program) // 8, program))):
    sys.exit(f"seccomp: {{ctypes.get_errno()}}")
"""

# The child's exit status where the system installs no system-call filter.
NO_FILTERS = 77


def run_refusing(call, errnum, code, *args, timeout=60, cwd=None):
    """Runs `code` (with sys.argv[1:] = args) where `call` fails with `errnum`;
    checks that it exited cleanly and returns what it printed. Skips where no
    filter can be had."""
    machine = platform.machine()
    if platform.system() != "Linux" or machine not in NUMBERS:
        pytest.skip("the system-call filter is written for Linux on x86_64 and aarch64")
    prelude = PRELUDE.format(arch=AUDIT_ARCH[machine], number=NUMBERS[machine][call], errnum=errnum,
                             no_filters=NO_FILTERS)
    run = subprocess.run([sys.executable, "-c", prelude + code, *map(str, args)],
                         capture_output=True, text=True, timeout=timeout, cwd=cwd)
    if run.returncode == NO_FILTERS:
        pytest.skip("this system installs no system-call filter (as under qemu-user)")
    assert run.returncode == 0, run.stdout[-3000:] + run.stderr[-3000:]
    return run.stdout
