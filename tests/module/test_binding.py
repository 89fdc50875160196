"""Argument binding: which call shapes are accepted and the exact TypeError texts."""

import pytest

import morvane_core as m
from morvane_core import Permissions

P = Permissions()

REFUSED = [
    # missing arguments: one, two and three-or-more name lists
    (lambda: m.read_lockfile(), "read_lockfile() missing 1 required positional argument: 'path'"),
    (lambda: m.write_lockfile(), "write_lockfile() missing 2 required positional arguments: 'path' and 'json_content'"),
    (lambda: m.write_lockfile(json_content="{}"), "write_lockfile() missing 1 required positional argument: 'path'"),
    (lambda: m.check_permission_budget(),
     "check_permission_budget() missing 3 required positional arguments: 'budget', 'skill_perms', and 'skill_name'"),
    (lambda: m.collect_permission_violations(P, skill_name="s"),
     "collect_permission_violations() missing 1 required positional argument: 'skill_perms'"),
    (lambda: m.check_permission_budget(P),
     "check_permission_budget() missing 2 required positional arguments: 'skill_perms' and 'skill_name'"),
    (lambda: m.extract_tarball(), "extract_tarball() missing 2 required positional arguments: 'data' and 'dest'"),
    (lambda: m.resolve_version(), "resolve_version() missing 2 required positional arguments: 'available' and 'range'"),
    (lambda: m.verify_integrity(b""),
     "verify_integrity() missing 1 required positional argument: 'expected_integrity'"),
    # too many positional arguments; the plural stays even for one parameter
    (lambda: m.read_lockfile("a", "b"), "read_lockfile() takes 1 positional arguments but 2 were given"),
    (lambda: m.is_path_allowed("a", [], "c", "d"), "is_path_allowed() takes 2 positional arguments but 4 were given"),
    (lambda: Permissions(None, None, None, None, None),
     "Permissions.__new__() takes from 0 to 4 positional arguments but 5 were given"),
    # too many positional arguments wins over bad keywords: keywords are not examined
    (lambda: m.read_lockfile("a", "b", bogus=1), "read_lockfile() takes 1 positional arguments but 2 were given"),
    # keywords
    (lambda: m.is_path_allowed("a", ["b"], extra=1), "is_path_allowed() got an unexpected keyword argument 'extra'"),
    (lambda: m.is_path_allowed("a", requested_path="b"),
     "is_path_allowed() got multiple values for argument 'requested_path'"),
    (lambda: Permissions(fs_read=["a"], filesystem_read=["b"]),
     "Permissions.__new__() got an unexpected keyword argument 'filesystem_read'"),
    (lambda: Permissions([], network_outbound=[]),
     "Permissions.__new__() got multiple values for argument 'network_outbound'"),
    (lambda: m.is_domain_allowed(**{"domaine": "x", "domain": "y"}),
     "is_domain_allowed() got an unexpected keyword argument 'domaine'"),
    (lambda: m.read_lockfile(**{"pâth": "x"}), "read_lockfile() got an unexpected keyword argument 'pâth'"),
    # binding fails before any conversion: the wrong-typed argument is never looked at
    (lambda: m.read_lockfile(5, 6), "read_lockfile() takes 1 positional arguments but 2 were given"),
    (lambda: m.read_lockfile(5, x=1), "read_lockfile() got an unexpected keyword argument 'x'"),
]


@pytest.mark.parametrize("call, message", REFUSED)
def test_binding_failures(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert info.value.args == (message,)


def test_first_bad_keyword_in_dictionary_order_decides():
    with pytest.raises(TypeError, match="^") as info:
        m.is_path_allowed("a", **{"zzz": 1, "requested_path": "b", "aaa": 2})
    assert str(info.value) == "is_path_allowed() got an unexpected keyword argument 'zzz'"
    with pytest.raises(TypeError) as info:
        m.is_path_allowed("a", **{"requested_path": "b", "zzz": 1})
    assert str(info.value) == "is_path_allowed() got multiple values for argument 'requested_path'"


ACCEPTED = [
    (lambda: m.is_path_allowed(requested_path="a", allowed_paths=("x", "y")), False),
    (lambda: m.is_path_allowed(allowed_paths=["a"], requested_path="a"), True),
    (lambda: m.is_domain_allowed("a.org", allowed_domains=["a.org"]), True),
    (lambda: m.check_permission_budget(skill_name="s", skill_perms=P, budget=P), None),
]


@pytest.mark.parametrize("call, expected", ACCEPTED)
def test_keywords_in_any_order_and_mixed_with_positions(call, expected):
    assert call() is expected


def test_constructor_takes_every_argument_by_position_or_keyword():
    by_position = Permissions(["d"], ["/r"], ["/w"], True)
    by_keyword = Permissions(subprocess=True, fs_write=["/w"], fs_read=["/r"], network_outbound=["d"])
    for p in (by_position, by_keyword):
        assert (p.network_outbound, p.filesystem_read, p.filesystem_write, p.subprocess) == (["d"], ["/r"], ["/w"], True)
