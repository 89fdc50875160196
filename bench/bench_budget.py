"""collect_permission_violations against a plain-Python version of the same walk."""

import common
from bench_allow_lists import py_is_domain_allowed, py_is_path_allowed
from morvane_core import Permissions, collect_permission_violations


def py_collect(budget, skill, name):
    out = []
    if skill["subprocess"] is True and budget["subprocess"] is not True:
        out.append((name, "subprocess", "true"))
    for kind, key, test in (("network.outbound", "network_outbound", py_is_domain_allowed),
                            ("filesystem.read", "fs_read", py_is_path_allowed),
                            ("filesystem.write", "fs_write", py_is_path_allowed)):
        requested = skill[key]
        if requested is None:
            continue
        allowed = budget[key] or []
        for entry in requested:
            if not test(entry, allowed):
                out.append((name, kind, entry))
    return out


def run():
    budget_lists = dict(
        network_outbound=[f"*.svc-{i}.example.org" for i in range(50)],
        fs_read=[f"/srv/read-{i}/**" for i in range(50)],
        fs_write=[f"/srv/write-{i}/**" for i in range(50)],
        subprocess=False,
    )
    # Half of the skill's requests are covered, half are violations.
    skill_lists = dict(
        network_outbound=[f"api.svc-{i}.example.org" if i % 2 else f"evil-{i}.net" for i in range(10)],
        fs_read=[f"/srv/read-{i * 5}/x" if i % 2 else f"/etc/secret-{i}" for i in range(5)],
        fs_write=[f"/srv/write-{i * 5}/y" if i % 2 else f"/tmp/out-{i}" for i in range(5)],
        subprocess=True,
    )
    budget, skill = Permissions(**budget_lists), Permissions(**skill_lists)
    ours = [(v.skill_name, v.violation_type, v.requested) for v in collect_permission_violations(budget, skill, "s")]
    assert ours == py_collect(budget_lists, skill_lists, "s") and len(ours) == 12
    return [common.Row("collect_permission_violations", "10 domains + 10 paths vs 50 per kind",
                       common.per_call(lambda: collect_permission_violations(budget, skill, "s")), "pure Python",
                       common.per_call(lambda: py_collect(budget_lists, skill_lists, "s")), 5)]


if __name__ == "__main__":
    common.main(run)
