"""Permission budget checks: the walk's order, its messages and absent versus empty lists."""

import pytest

from morvane_core import Permissions, check_permission_budget, collect_permission_violations

EMPTY = Permissions()


def triples(budget, skill, name="s"):
    return [(v.skill_name, v.violation_type, v.requested) for v in collect_permission_violations(budget, skill, name)]


def message(budget, skill, name="s"):
    try:
        check_permission_budget(budget, skill, name)
    except PermissionError as e:
        assert type(e) is PermissionError and len(e.args) == 1
        return e.args[0]
    return None


def test_skill_requesting_nothing_passes_any_budget():
    for budget in (EMPTY, Permissions([], [], [], False), Permissions(["a"], ["/r/**"], ["/w"], True)):
        assert triples(budget, EMPTY) == []
        assert message(budget, EMPTY) is None
        assert check_permission_budget(budget, EMPTY, "s") is None


def test_walk_order_and_messages():
    skill = Permissions(network_outbound=["api.x.org", "b.org"], fs_read=["/data/in"], fs_write=["/tmp\\out"],
                        subprocess=True)
    assert triples(EMPTY, skill, "tool") == [
        ("tool", "subprocess", "true"),
        ("tool", "network.outbound", "api.x.org"),
        ("tool", "network.outbound", "b.org"),
        ("tool", "filesystem.read", "/data/in"),
        ("tool", "filesystem.write", "/tmp\\out"),
    ]
    assert message(EMPTY, skill, "tool") == \
        "Permission denied: tool requires subprocess access, but project budget does not allow it"


@pytest.mark.parametrize("skill, expected", [
    (Permissions(network_outbound=["evil.org", "b.org"]),
     "Permission denied: s requests network access to \"evil.org\", which is not in the project's permission budget"),
    (Permissions(fs_read=["/etc/passwd"]),
     "Permission denied: s requests filesystem read access to \"/etc/passwd\", which is not in the project's permission budget"),
    (Permissions(fs_write=["C:\\a\"b"]),
     "Permission denied: s requests filesystem write access to \"C:\\a\"b\", which is not in the project's permission budget"),
])
def test_each_kind_of_message(skill, expected):
    assert message(EMPTY, skill) == expected


@pytest.mark.parametrize("budget_sub, skill_sub, violates", [
    (None, True, True), (False, True, True), (True, True, False),
    (None, False, False), (False, False, False), (True, None, False), (None, None, False),
])
def test_subprocess_rule(budget_sub, skill_sub, violates):
    got = triples(Permissions(subprocess=budget_sub), Permissions(subprocess=skill_sub))
    assert got == ([("s", "subprocess", "true")] if violates else [])


def test_absent_and_empty_lists():
    # In the skill: absent and empty both request nothing.
    assert triples(EMPTY, Permissions(network_outbound=[], fs_read=[], fs_write=[])) == []
    # In the budget: absent and empty both allow nothing.
    skill = Permissions(network_outbound=["a.org"], fs_read=["/r"])
    expected = [("s", "network.outbound", "a.org"), ("s", "filesystem.read", "/r")]
    assert triples(EMPTY, skill) == expected
    assert triples(Permissions(network_outbound=[], fs_read=[]), skill) == expected
    # A filesystem part holding only the read list leaves write absent.
    assert triples(Permissions(fs_read=["/r"]), Permissions(fs_read=["/r"], fs_write=["/r"])) == \
        [("s", "filesystem.write", "/r")]


def test_kinds_are_compared_only_with_the_same_kind():
    budget = Permissions(network_outbound=["/w"], fs_read=["/w"])
    assert triples(budget, Permissions(fs_write=["/w"])) == [("s", "filesystem.write", "/w")]
    assert triples(Permissions(fs_write=["a.org"]), Permissions(network_outbound=["a.org"])) == \
        [("s", "network.outbound", "a.org")]


def test_allow_list_rules_apply_unchanged():
    budget = Permissions(network_outbound=["*.example.org"], fs_read=["/**"], fs_write=["out/**"])
    skill = Permissions(network_outbound=["api.example.org", "example.org", "example.org.evil"],
                        fs_read=["/etc/hosts", "/x/../y"], fs_write=["out\\f", "out2/f"])
    assert triples(budget, skill) == [
        ("s", "network.outbound", "example.org.evil"),
        ("s", "filesystem.read", "/x/../y"),
        ("s", "filesystem.write", "out2/f"),
    ]


def test_duplicates_give_one_violation_each_and_check_names_the_first():
    skill = Permissions(network_outbound=["b.org", "a.org", "b.org"])
    assert [v[2] for v in triples(EMPTY, skill)] == ["b.org", "a.org", "b.org"]
    assert message(EMPTY, skill).startswith("Permission denied: s requests network access to \"b.org\"")


def test_same_object_as_budget_and_skill():
    p = Permissions(network_outbound=["a.org"], fs_read=["/a", "/a/../b"], fs_write=["x..y"], subprocess=True)
    assert triples(p, p) == [("s", "filesystem.read", "/a/../b"), ("s", "filesystem.write", "x..y")]


def test_skill_name_is_inserted_unchanged():
    name = "ünï \"quoted\"\n"
    assert message(EMPTY, Permissions(subprocess=True), name) == \
        f"Permission denied: {name} requires subprocess access, but project budget does not allow it"
    assert triples(EMPTY, Permissions(subprocess=True), name)[0][0] == name


def test_first_violation_of_check_is_first_of_collect():
    skill = Permissions(fs_read=["/ok", "/bad"], fs_write=["/w"])
    budget = Permissions(fs_read=["/ok"])
    first = triples(budget, skill)[0]
    assert first == ("s", "filesystem.read", "/bad")
    assert message(budget, skill) == \
        "Permission denied: s requests filesystem read access to \"/bad\", which is not in the project's permission budget"
