"""Reported failures reach Python as the exact class with the message as its only argument."""

import errno
import os

import pytest

import morvane_core as m


def os_text(errnum):
    """The message of a system failure: this system's text for the number, then the number."""
    return f"{os.strerror(errnum)} (os error {errnum})"


def permission_failure():
    m.check_permission_budget(m.Permissions(), m.Permissions(subprocess=True), "s")


def os_failure(tmp_path):
    m.read_lockfile(str(tmp_path / "missing.json"))


def value_failure():
    m.verify_integrity(b"", "nope")


CASES = [
    (lambda tmp: permission_failure(), PermissionError,
     "Permission denied: s requires subprocess access, but project budget does not allow it"),
    (os_failure, OSError, os_text(errno.ENOENT)),
    (lambda tmp: m.extract_tarball(b"", str(tmp / "d")), OSError, "IO error: unexpected end of file"),
    (lambda tmp: value_failure(), ValueError, None),
]


@pytest.mark.parametrize("call, cls, message", CASES)
def test_failure_is_the_class_itself_with_one_argument(tmp_path, call, cls, message):
    with pytest.raises(BaseException) as info:
        call(tmp_path)
    e = info.value
    assert type(e) is cls
    assert len(e.args) == 1 and isinstance(e.args[0], str)
    if message is not None:
        assert e.args == (message,)
    assert str(e) == e.args[0]
    assert e.__cause__ is None
    if isinstance(e, OSError):
        assert (e.errno, e.strerror, e.filename) == (None, None, None)


def test_exception_raised_inside_an_except_block_keeps_python_context():
    outer = KeyError("outer")
    try:
        raise outer
    except KeyError:
        with pytest.raises(PermissionError) as info:
            permission_failure()
    assert info.value.__context__ is outer
    assert info.value.__cause__ is None
