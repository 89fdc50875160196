"""The Permissions and PermissionViolation classes."""

import weakref

import pytest

from morvane_core import PermissionViolation, Permissions, collect_permission_violations

GETTERS = ("network_outbound", "filesystem_read", "filesystem_write", "subprocess")


def values(p):
    return tuple(getattr(p, g) for g in GETTERS)


@pytest.mark.parametrize("kwargs, expected", [
    ({}, (None, None, None, None)),
    (dict(network_outbound=["d1"], fs_read=["/r"], fs_write=["/w"], subprocess=True), (["d1"], ["/r"], ["/w"], True)),
    (dict(fs_write=("/w",)), (None, None, ["/w"], None)),
    (dict(fs_read=[]), (None, [], None, None)),
    (dict(network_outbound=[]), ([], None, None, None)),
    (dict(fs_read=None, fs_write=None), (None, None, None, None)),
    (dict(subprocess=False), (None, None, None, False)),
    (dict(subprocess=None), (None, None, None, None)),
    (dict(fs_read=["a", "a", ""]), (None, ["a", "a", ""], None, None)),
    (dict(network_outbound=["x"] * 3), (["x", "x", "x"], None, None, None)),
])
def test_constructor_builds_the_record(kwargs, expected):
    p = Permissions(**kwargs)
    assert values(p) == expected
    assert type(p.subprocess) in (bool, type(None))


def test_getters_return_a_new_list_on_every_access():
    source = ["a", "b"]
    p = Permissions(fs_read=source)
    source.append("c")  # the record holds its own copy
    first = p.filesystem_read
    first.append("x")
    first[0] = "changed"
    second = p.filesystem_read
    assert second == ["a", "b"]
    assert second is not first
    assert p.filesystem_read is not second


def test_instances_are_immutable():
    p = Permissions(fs_read=["a"])
    for name in GETTERS:
        with pytest.raises(AttributeError):
            setattr(p, name, None)
        with pytest.raises(AttributeError):
            delattr(p, name)
    with pytest.raises(AttributeError):
        p.other = 1
    p.__init__(fs_read=["b"])  # inherited object.__init__ changes nothing
    assert p.filesystem_read == ["a"]
    assert not hasattr(p, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(p)


@pytest.mark.parametrize("cls", [Permissions, PermissionViolation])
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_instances_compare_and_hash_by_identity():
    a, b = Permissions(fs_read=["a"]), Permissions(fs_read=["a"])
    assert a != b and a == a
    assert hash(a) == object.__hash__(a) and hash(b) == object.__hash__(b)
    assert repr(a).startswith("<builtins.Permissions object at 0x")
    assert len({a, b}) == 2 and b not in {a}


def test_violations_cannot_be_created_from_python():
    for args, kwargs in [((), {}), (("s", "t", "r"), {}), ((), {"skill_name": "s"})]:
        with pytest.raises(TypeError) as info:
            PermissionViolation(*args, **kwargs)
        assert str(info.value) == "cannot create 'builtins.PermissionViolation' instances"


def test_violations_read_back_and_are_immutable():
    [v] = collect_permission_violations(Permissions(), Permissions(fs_write=["C:\\x"]), "skïll")
    assert (v.skill_name, v.violation_type, v.requested) == ("skïll", "filesystem.write", "C:\\x")
    assert type(v) is PermissionViolation
    for name in ("skill_name", "violation_type", "requested"):
        with pytest.raises(AttributeError):
            setattr(v, name, "x")
    assert not hasattr(v, "__dict__")
    assert repr(v).startswith("<builtins.PermissionViolation object at 0x")
