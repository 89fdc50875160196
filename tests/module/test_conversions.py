"""Argument conversion: accepted kinds, refusal texts and the wrapping rule."""

import collections
import pathlib

import pytest

try:
    import numpy as np
except ImportError:  # no numpy wheel for this processor (i686, s390x, ...)
    np = None
needs_numpy = pytest.mark.skipif(np is None, reason="numpy is not installed")

import morvane_core as m
from morvane_core import Permissions


class Text(str):
    pass


class Blob(bytes):
    pass


REFUSED = [
    (lambda: m.read_lockfile(5), "argument 'path': 'int' object is not an instance of 'str'"),
    (lambda: m.read_lockfile(None), "argument 'path': 'None' is not an instance of 'str'"),
    (lambda: m.read_lockfile(b"x"), "argument 'path': 'bytes' object is not an instance of 'str'"),
    (lambda: m.read_lockfile(pathlib.PurePosixPath("x")),
     "argument 'path': 'PurePosixPath' object is not an instance of 'str'"),
    (lambda: m.write_lockfile("p", 1.5), "argument 'json_content': 'float' object is not an instance of 'str'"),
    (lambda: m.extract_tarball(bytearray(b"x"), "d"), "argument 'data': 'bytearray' object is not an instance of 'bytes'"),
    (lambda: m.extract_tarball(memoryview(b"x"), "d"), "argument 'data': 'memoryview' object is not an instance of 'bytes'"),
    (lambda: m.extract_tarball(None, "d"), "argument 'data': 'None' is not an instance of 'bytes'"),
    (lambda: m.extract_tarball(b"", pathlib.Path("d")), "argument 'dest': 'PosixPath' object is not an instance of 'str'"),
    (lambda: m.verify_integrity("x", "y"), "argument 'data': 'str' object is not an instance of 'bytes'"),
    # sequence of str, step by step
    (lambda: m.is_path_allowed("a", "b"), "argument 'allowed_paths': Can't extract `str` to `Vec`"),
    (lambda: m.is_path_allowed("a", Text("b")), "argument 'allowed_paths': Can't extract `str` to `Vec`"),
    (lambda: m.is_domain_allowed("a", {"x"}), "argument 'allowed_domains': 'set' object is not an instance of 'Sequence'"),
    (lambda: m.is_domain_allowed("a", {"x": 1}), "argument 'allowed_domains': 'dict' object is not an instance of 'Sequence'"),
    (lambda: m.is_domain_allowed("a", (x for x in "ab")),
     "argument 'allowed_domains': 'generator' object is not an instance of 'Sequence'"),
    (lambda: m.is_domain_allowed("a", None), "argument 'allowed_domains': 'None' is not an instance of 'Sequence'"),
    (lambda: m.is_domain_allowed("a", ["x", 3]), "argument 'allowed_domains': 'int' object is not an instance of 'str'"),
    (lambda: m.is_domain_allowed("a", ["x", None]), "argument 'allowed_domains': 'None' is not an instance of 'str'"),
    (lambda: m.resolve_version([b"1.0.0"], "*"), "argument 'available': 'bytes' object is not an instance of 'str'"),
    # Permissions arguments
    (lambda: m.check_permission_budget({}, Permissions(), "s"), "argument 'budget': 'dict' object is not an instance of 'Permissions'"),
    (lambda: m.check_permission_budget(Permissions(), Permissions(), None),
     "argument 'skill_name': 'None' is not an instance of 'str'"),
    (lambda: m.collect_permission_violations(Permissions(), None, "s"),
     "argument 'skill_perms': 'None' is not an instance of 'Permissions'"),
    # constructor kinds
    (lambda: Permissions(subprocess=0), "argument 'subprocess': 'int' object is not an instance of 'bool'"),
    (lambda: Permissions(subprocess=1), "argument 'subprocess': 'int' object is not an instance of 'bool'"),
    (lambda: Permissions(subprocess="yes"), "argument 'subprocess': 'str' object is not an instance of 'bool'"),
    pytest.param(lambda: Permissions(subprocess=np.int8(1)),
                 "argument 'subprocess': 'int8' object is not an instance of 'bool'", marks=needs_numpy),
    (lambda: Permissions(fs_read="a"), "argument 'fs_read': Can't extract `str` to `Vec`"),
    (lambda: Permissions(network_outbound=["a", 1]), "argument 'network_outbound': 'int' object is not an instance of 'str'"),
    (lambda: Permissions(fs_write=5), "argument 'fs_write': 'int' object is not an instance of 'Sequence'"),
]


@pytest.mark.parametrize("call, message", REFUSED)
def test_conversion_failures(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert info.value.args == (message,)
    assert info.value.__cause__ is None


def test_arguments_convert_in_parameter_order():
    with pytest.raises(TypeError) as info:
        m.check_permission_budget(1, 2, 3)
    assert str(info.value) == "argument 'budget': 'int' object is not an instance of 'Permissions'"
    with pytest.raises(TypeError) as info:
        Permissions(fs_write=1, fs_read=2)
    assert str(info.value) == "argument 'fs_read': 'int' object is not an instance of 'Sequence'"


def test_subclasses_of_str_and_bytes_are_accepted():
    assert m.is_path_allowed(Text("a"), [Text("a")]) is True
    assert m.is_domain_allowed("a", collections.UserList([Text("a")])) is True
    with pytest.raises(ValueError) as info:
        m.verify_integrity(Blob(b"abc"), "x")
    assert str(info.value).startswith("SHA-512 mismatch: expected x, got sha512-")


def test_utf8_text_crosses_unchanged():
    assert m.is_path_allowed("ünï/ċödé", ["ünï/**"]) is True
    assert m.is_domain_allowed("bücher.example", ["*.example"]) is True
    assert Permissions(["dömain", "😀"]).network_outbound == ["dömain", "😀"]


def test_lone_surrogate_passes_the_encoding_error_unwrapped():
    with pytest.raises(UnicodeEncodeError):
        m.read_lockfile("\udc80")
    with pytest.raises(UnicodeEncodeError):
        m.is_path_allowed("a", ["ok", "\ud800"])


class Flaky(collections.abc.Sequence):
    """A sequence whose iteration raises a chosen exception after one item."""

    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        raise RuntimeError("length is only a hint")

    def __getitem__(self, i):
        if i == 0:
            return "x"
        raise self.exc


def test_iteration_errors_follow_the_wrapping_rule():
    cause = KeyError("root")
    inner = TypeError("bad item")
    inner.__cause__ = cause
    with pytest.raises(TypeError) as info:
        m.is_path_allowed("a", Flaky(inner))
    assert str(info.value) == "argument 'allowed_paths': bad item"
    assert info.value is not inner
    assert info.value.__cause__ is cause

    class Special(TypeError):
        pass

    # a subclass of TypeError, or any other class, passes on unchanged
    for exc in (Special("sub"), ValueError("v"), OverflowError("o")):
        with pytest.raises(type(exc)) as info:
            m.is_path_allowed("a", Flaky(exc))
        assert info.value is exc


def test_a_failing_length_is_ignored():
    class NoLen(collections.abc.Sequence):
        def __len__(self):
            raise OverflowError("huge")

        def __getitem__(self, i):
            if i < 2:
                return ["a", "b"][i]
            raise IndexError

    assert m.is_domain_allowed("b", NoLen()) is True


@pytest.mark.parametrize("value, expected", [
    pytest.param("numpy True", True, marks=needs_numpy), pytest.param("numpy False", False, marks=needs_numpy),
    (True, True), (False, False), (None, None),
])
def test_bool_kind_takes_python_and_numpy_booleans(value, expected):
    if isinstance(value, str):
        value = np.bool_(value == "numpy True")
    assert Permissions(subprocess=value).subprocess is expected


def test_numpy_lookalike_bool_must_answer_a_real_bool():
    class bool_:  # noqa: N801 - mimics numpy's scalar type
        def __bool__(self):
            return 1

    bool_.__module__ = "numpy"
    bool_.__qualname__ = "bool_"
    with pytest.raises(TypeError) as info:
        Permissions(subprocess=bool_())
    assert str(info.value) == "argument 'subprocess': 'int' object is not an instance of 'bool'"

    bool_.__bool__ = lambda self: True
    assert Permissions(subprocess=bool_()).subprocess is True
    bool_.__module__ = "elsewhere"
    with pytest.raises(TypeError) as info:
        Permissions(subprocess=bool_())
    assert str(info.value) == "argument 'subprocess': 'bool_' object is not an instance of 'bool'"
