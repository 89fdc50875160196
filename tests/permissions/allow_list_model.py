"""A small model of the path and domain rules in plain Python, for the property
tests over arbitrary text and for the benchmark that times the native tests
against it."""


def path_model(request, entries):
    n = request.replace("\\", "/")
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


def domain_model(domain, entries):
    for e in entries:
        if e == domain:
            return True
        if len(e) >= 2 and e.startswith("*."):
            base = e[2:]
            if domain == base or domain.endswith("." + base):
                return True
    return False
