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
        target = 5 if n == 20 else None
        rows.append(common.Row("is_path_allowed", f"{n} entries", common.per_call(lambda: is_path_allowed(path, paths)),
                               "pure Python", common.per_call(lambda: path_model(path, paths)), target))
        rows.append(common.Row("is_domain_allowed", f"{n} entries",
                               common.per_call(lambda: is_domain_allowed(domain, domains)),
                               "pure Python", common.per_call(lambda: domain_model(domain, domains)), target))
    return rows


if __name__ == "__main__":
    common.main(run)
