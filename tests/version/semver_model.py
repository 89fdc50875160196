"""A small, slow reference model of version syntax, matching and order.

Written differently from the native code on purpose: regular expressions for
the syntax, Python's big integers and tuple comparison for the order, and
"fixed prefix plus lower bound" for the caret operator. Property tests compare
the native resolver with it.
"""

import re

U64_MAX = 2**64 - 1

_NUM = r"(?:0|[1-9][0-9]*)"
_PRE_SEGMENT = r"(?:0|[1-9][0-9]*|[0-9]*[A-Za-z-][0-9A-Za-z-]*)"
_PRE = rf"{_PRE_SEGMENT}(?:\.{_PRE_SEGMENT})*"
_BUILD = r"[0-9A-Za-z-]+(?:\.[0-9A-Za-z-]+)*"

_VERSION = re.compile(rf"({_NUM})\.({_NUM})\.({_NUM})(?:-({_PRE}))?(?:\+({_BUILD}))?")

_COMPARATOR = re.compile(
    rf"(>=|<=|>|<|=|~|\^)? *({_NUM})"
    rf"(?:\.(?:([*xX])|({_NUM}))"
    rf"(?:\.(?:([*xX])|({_NUM})(?:-({_PRE}))?(?:\+{_BUILD})?))?)?"
)

MAX_COMPARATORS = 32


def parse_version(text):
    """(major, minor, patch, pre, build) or None."""
    m = _VERSION.fullmatch(text)
    if not m:
        return None
    major, minor, patch = (int(g) for g in m.group(1, 2, 3))
    if max(major, minor, patch) > U64_MAX:
        return None
    return (major, minor, patch, m.group(4) or "", m.group(5) or "")


def _parse_comparator(text):
    m = _COMPARATOR.fullmatch(text)
    if not m:
        return None
    op, major, minor_wild, minor, patch_wild, patch, pre = m.groups()
    if minor_wild and patch is not None:
        return None
    numbers = [int(x) for x in (major, minor, patch) if x is not None]
    if any(n > U64_MAX for n in numbers):
        return None
    if op is None:
        op = "*" if (minor_wild or patch_wild) else "^"
    return (
        op,
        int(major),
        None if minor is None else int(minor),
        None if patch is None else int(patch),
        pre or "",
    )


def parse_range(text):
    """A list of comparators (op, A, B, C, Q), or None when invalid."""
    if re.fullmatch(r" *[*xX] *", text):
        return []
    parts = text.split(",")
    if len(parts) > MAX_COMPARATORS:
        return None
    comparators = []
    for part in parts:
        c = _parse_comparator(part.strip(" "))
        if c is None:
            return None
        comparators.append(c)
    return comparators


def pre_key(pre):
    if not pre:
        return (1,)
    return (0, tuple((0, int(s), "") if s.isdigit() else (1, 0, s) for s in pre.split(".")))


def build_key(build):
    if not build:
        return (0,)
    return (1, tuple((0, int(s), len(s), "") if s.isdigit() else (1, 0, 0, s) for s in build.split(".")))


def precedence(v):
    return (v[0], v[1], v[2], pre_key(v[3]))


def order_key(v):
    return precedence(v) + (build_key(v[4]),)


def _written(c):
    """The comparator's written numbers and the version's matching numbers."""
    return [x for x in c[1:4] if x is not None]


def _satisfies_one(v, c):
    op, a, b, cp, q = c
    written = _written(c)
    prefix = list(v[: len(written)])
    complete = len(written) == 3
    equal = prefix == written and v[3] == q
    if complete:
        greater = (prefix, pre_key(v[3])) > (written, pre_key(q))
        less = (prefix, pre_key(v[3])) < (written, pre_key(q))
    else:
        greater = prefix > written
        less = prefix < written
    if op in ("=", "*"):
        return equal
    if op == ">":
        return greater
    if op == ">=":
        return equal or greater
    if op == "<":
        return less
    if op == "<=":
        return equal or less
    if op == "~":
        if v[0] != a or (b is not None and v[1] != b):
            return False
        if cp is not None and v[2] != cp:
            return v[2] > cp
        return pre_key(v[3]) >= pre_key(q)
    # "^": the written parts up to the first non-zero one stay fixed, and the
    # version is at least the comparator.
    fixed = next((i + 1 for i, x in enumerate(written) if x != 0), len(written))
    if list(v[:fixed]) != written[:fixed]:
        return False
    if complete:
        return (prefix, pre_key(v[3])) >= (written, pre_key(q))
    return prefix >= written


def satisfies(v, comparators):
    if not all(_satisfies_one(v, c) for c in comparators):
        return False
    if not v[3]:
        return True
    return any(c[1:4] == v[:3] and c[4] for c in comparators)


def resolve(available, range_text):
    """The listed text of the greatest satisfying version, or None."""
    comparators = parse_range(range_text)
    if comparators is None:
        return None
    best = None
    for text in available:
        v = parse_version(text)
        if v is not None and satisfies(v, comparators):
            if best is None or order_key(v) > order_key(best[0]):
                best = (v, text)
    return None if best is None else best[1]
