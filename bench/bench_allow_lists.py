"""is_path_allowed and is_domain_allowed against a plain-Python version of the same rules."""

import os
import sys

import common
from morvane_core import is_domain_allowed, is_path_allowed

# The plain-Python model of the rules is the one the tests check against.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "permissions"))
from allow_list_model import domain_model, path_model  # noqa: E402


def path_entries(n):
    return [f"/srv/project-{i}/data/**" if i % 2 else f"/home/user/file-{i}.txt" for i in range(n)]


def domain_entries(n):
    return [f"*.service-{i}.example.org" if i % 2 else f"api-{i}.example.com" for i in range(n)]


def run():
    rows = []
    for n in (1, 20, 1000):
        # The request matches nothing, so every entry is examined: the worst case.
        paths, domains = path_entries(n), domain_entries(n)
        path, domain = "/srv/other/data/file.bin", "cdn.unknown.example.net"
        assert is_path_allowed(path, paths) is path_model(path, paths) is False
        assert is_domain_allowed(domain, domains) is domain_model(domain, domains) is False
        target = 6 if n == 20 else None
        rows.append(common.Row("is_path_allowed", f"{n} entries", common.per_call(lambda: is_path_allowed(path, paths)),
                               "pure Python", common.per_call(lambda: path_model(path, paths)), target))
        rows.append(common.Row("is_domain_allowed", f"{n} entries",
                               common.per_call(lambda: is_domain_allowed(domain, domains)),
                               "pure Python", common.per_call(lambda: domain_model(domain, domains)), target))
    # An exact list is converted in one piece (the items joined and encoded
    # once); a list subclass, whose iteration may run Python code, item by
    # item. The subclass here iterates like a list, so only the conversion differs.
    domains = domain_entries(20)
    as_subclass = type("Domains", (list,), {})(domains)
    domain = "cdn.unknown.example.net"
    rows.append(common.Row("is_domain_allowed", "20 entries: exact list vs item by item (list subclass)",
                           common.per_call(lambda: is_domain_allowed(domain, domains)), "list subclass",
                           common.per_call(lambda: is_domain_allowed(domain, as_subclass))))
    return rows


if __name__ == "__main__":
    common.main(run)
