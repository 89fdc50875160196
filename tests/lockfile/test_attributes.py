"""A replaced lockfile keeps its extended attributes, POSIX ACLs among them; where
they cannot all be carried over, the file is written in place."""

import errno
import os
import struct

import pytest
from syscall_filter import run_refusing

import morvane_core

DOC = '{"lockfileVersion":1,"skills":{}}'
STORED = b'{\n  "lockfileVersion": 1,\n  "skills": {}\n}\n'
ACCESS_ACL = "system.posix_acl_access"
DEFAULT_ACL = "system.posix_acl_default"


def acl(*entries):
    """The stored form of a POSIX ACL: a version-2 header, then (tag, permission
    bits, id) entries sorted by tag and id, id -1 standing for "not a user or
    group entry"."""
    return struct.pack("<I", 2) + b"".join(struct.pack("<HHI", tag, perm, uid & 0xFFFFFFFF)
                                           for tag, perm, uid in entries)


USER_OBJ, USER, GROUP_OBJ, MASK, OTHER = 0x01, 0x02, 0x04, 0x10, 0x20
# Mode 0640 plus rw- for user 65534: the mask (rw-) shows as the group bits, 0660.
NOBODY_MAY_WRITE = acl((USER_OBJ, 6, -1), (USER, 6, 65534), (GROUP_OBJ, 4, -1), (MASK, 6, -1), (OTHER, 0, -1))


def attributes(path):
    return {name: os.getxattr(path, name) for name in os.listxattr(path)}


@pytest.fixture
def lock(tmp_path):
    """A lockfile written once; skips where the file system keeps no ACLs or user attributes."""
    if not hasattr(os, "setxattr"):
        # CPython 3.11 has the attribute calls only where it is built on glibc.
        pytest.skip("this Python has no extended-attribute calls")
    path = tmp_path / "skills.lock"
    morvane_core.write_lockfile(str(path), '{"lockfileVersion":2,"skills":{}}')
    try:
        os.setxattr(path, "user.probe", b"1")
        os.removexattr(path, "user.probe")
        os.setxattr(path, ACCESS_ACL, acl((USER_OBJ, 6, -1), (GROUP_OBJ, 4, -1), (OTHER, 4, -1)))
    except OSError as e:
        if e.errno in (errno.ENOTSUP, errno.EOPNOTSUPP):
            pytest.skip(f"no extended attributes or ACLs on {tmp_path}")
        raise
    os.chmod(path, 0o644)  # drops the plain ACL again
    return path


@pytest.mark.parametrize("case", ["acl and user attribute", "none, in a folder with a default acl"])
def test_a_replacement_keeps_exactly_the_old_attributes(lock, case):
    if case == "acl and user attribute":
        os.setxattr(lock, ACCESS_ACL, NOBODY_MAY_WRITE)
        os.setxattr(lock, "user.origin", b"registry.example.org")
    else:
        # A new file in the folder takes the folder's default ACL; the old one has none.
        os.setxattr(lock.parent, DEFAULT_ACL, NOBODY_MAY_WRITE)
    before, old = attributes(lock), os.stat(lock)
    assert (ACCESS_ACL in before) == (case == "acl and user attribute")

    morvane_core.write_lockfile(str(lock), DOC)
    now = os.stat(lock)
    assert now.st_ino != old.st_ino  # replaced, not written in place
    assert lock.read_bytes() == STORED
    assert attributes(lock) == before
    assert oct(now.st_mode) == oct(old.st_mode)
    assert os.listdir(lock.parent) == ["skills.lock"]


def test_an_attribute_the_new_file_cannot_take_means_writing_in_place(lock):
    os.setxattr(lock, ACCESS_ACL, NOBODY_MAY_WRITE)
    os.setxattr(lock, "user.origin", b"registry.example.org")
    before, old = attributes(lock), os.stat(lock)

    # fsetxattr fails as a file system or a security module refusing one
    # attribute would make it fail.
    run_refusing("fsetxattr", errno.EPERM, "import morvane_core; morvane_core.write_lockfile(*sys.argv[1:])",
                 lock, DOC)
    now = os.stat(lock)
    assert now.st_ino == old.st_ino
    assert lock.read_bytes() == STORED
    assert attributes(lock) == before
    assert oct(now.st_mode) == oct(old.st_mode)
    assert os.listdir(lock.parent) == ["skills.lock"]
