"""is_path_allowed and is_domain_allowed against a plain-Python version of the same rules."""

import common
from morvane_core import is_domain_allowed, is_path_allowed


def py_is_path_allowed(requested, entries):
    n = requested.replace("\\", "/")
    if ".." in n:
        return False
    for e in entries:
        p = e.replace("\\", "/")
        if p == n:
            return True
        if len(p) >= 3 and p.endswith("/**"):
            base = p[:-3]
            if n == base or n.startswith(base + "/"):
                return True
    return False


def py_is_domain_allowed(domain, entries):
    for e in entries:
        if e == domain:
            return True
        if len(e) >= 2 and e.startswith("*."):
            base = e[2:]
            if domain == base or domain.endswith("." + base):
                return True
    return False


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
        assert is_path_allowed(path, paths) is py_is_path_allowed(path, paths) is False
        assert is_domain_allowed(domain, domains) is py_is_domain_allowed(domain, domains) is False
        target = 5 if n == 20 else None
        rows.append(common.Row("is_path_allowed", f"{n} entries", common.per_call(lambda: is_path_allowed(path, paths)),
                               "pure Python", common.per_call(lambda: py_is_path_allowed(path, paths)), target))
        rows.append(common.Row("is_domain_allowed", f"{n} entries",
                               common.per_call(lambda: is_domain_allowed(domain, domains)),
                               "pure Python", common.per_call(lambda: py_is_domain_allowed(domain, domains)), target))
    return rows


if __name__ == "__main__":
    common.main(run)
