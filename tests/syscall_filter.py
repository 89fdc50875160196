"""Runs Python code in a child process where the kernel answers one system
call with an error, as a container's system-call filter (seccomp) or an older
kernel may."""

import platform
import subprocess
import sys

import pytest
import targets

# The running processor's line of the table of targets, which holds the
# numbers of the calls the tests refuse; None where it has none.
PROCESSOR = next((p for p in targets.processors().values() if p["machine"] == platform.machine()), None)


def audit_arch(processor):
    """The kernel's name of the system-call convention a filter sees: the ELF
    machine, with a bit for 64-bit processors and one for little-endian ones."""
    return int(processor["elf"]) | (0x80000000 if processor["bits"] == "64" else 0) | (
        0x40000000 if processor["endian"] == "little" else 0)


PRELUDE = r"""
import ctypes, struct, sys

def insn(code, k, jt=0, jf=0):
    return struct.pack("=HBBI", code, jt, jf, k)

LD_ABS, JEQ, RET = 0x20, 0x15, 0x06
ALLOW, ERRNO = 0x7FFF0000, 0x00050000
refused = {numbers}
program = b"".join([
    insn(LD_ABS, 4), insn(JEQ, {arch}, 1, 0), insn(RET, ALLOW),  # another ABI: allowed
    insn(LD_ABS, 0),
    # Each refused number jumps to the refusal after the last of them.
    *(insn(JEQ, n, len(refused) - i, 0) for i, n in enumerate(refused)),
    insn(RET, ALLOW), insn(RET, ERRNO | {errnum}),
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
# Where the C library makes its own stat through the refused call (glibc on
# 32-bit processors makes it through statx, and goes back to the older call
# on ENOSYS alone), nothing the interpreter does with files works.
import os
try:
    os.stat("/")
except OSError:
    sys.exit({libc_needs_it})
"""

# The child's exit statuses where the system installs no system-call filter,
# and where the C library cannot do without the refused call.
NO_FILTERS = 77
LIBC_NEEDS_IT = 78


def run_refusing(call, errnum, code, *args, timeout=60, cwd=None):
    """Runs `code` (with sys.argv[1:] = args) where `call` fails with `errnum`;
    checks that it exited cleanly and returns what it printed. Skips where no
    filter can be had."""
    if platform.system() != "Linux" or PROCESSOR is None:
        pytest.skip(f"no processor of the table of targets is {platform.machine()}: no system-call numbers")
    numbers = [int(n) for n in PROCESSOR[call].split(",")]
    prelude = PRELUDE.format(arch=audit_arch(PROCESSOR), numbers=numbers, errnum=errnum, no_filters=NO_FILTERS,
                             libc_needs_it=LIBC_NEEDS_IT)
    run = subprocess.run([sys.executable, "-c", prelude + code, *map(str, args)],
                         capture_output=True, text=True, timeout=timeout, cwd=cwd)
    if run.returncode == NO_FILTERS:
        pytest.skip("this system installs no system-call filter (as under qemu-user)")
    if run.returncode == LIBC_NEEDS_IT:
        pytest.skip(f"the C library's own stat fails here where {call} does")
    assert run.returncode == 0, run.stdout[-3000:] + run.stderr[-3000:]
    return run.stdout
