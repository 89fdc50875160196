"""When a version satisfies a range: one table per operator, then the
pre-release rule of ranges.

A pre-release version is admitted only when some comparator names its
major.minor.patch with a pre-release, so rows that check one operator's rule
on a pre-release add such a comparator (">=M.m.p-0", which every version of
that major.minor.patch and above satisfies) to isolate the operator."""

import pytest

from morvane_core import resolve_version

U64_MAX = 2**64 - 1


def admits(range_text, version):
    result = resolve_version([version], range_text)
    assert result in (version, None)
    return result == version


def table(name, *rows):
    return [pytest.param(r, v, e, id=f"{name}: {r} | {v}") for r, v, e in rows]


EXACT_AND_WILDCARD = table(
    "exact and wildcard",
    ("=1.2.3", "1.2.3", True),
    ("=1.2.3", "1.2.3+build.1", True),
    ("=1.2.3", "1.2.4", False),
    ("=1.2.3", "1.2.2", False),
    ("=1.2.3", "1.2.3-alpha", False),
    ("=1.2.3, >=1.2.3-0", "1.2.3-alpha", False),
    ("=1.2.3-beta", "1.2.3-beta", True),
    ("=1.2.3-beta", "1.2.3-beta+exp", True),
    ("=1.2.3-beta", "1.2.3-beta.1", False),
    ("=1.2.3-beta", "1.2.3", False),
    ("=1.2", "1.2.0", True),
    ("=1.2", "1.2.9", True),
    ("=1.2", "1.3.0", False),
    ("=1", "1.0.0", True),
    ("=1", "1.9.9", True),
    ("=1", "2.0.0", False),
    ("=1", "0.9.9", False),
    ("1.*", "1.0.0", True),
    ("1.x", "1.99.99", True),
    ("1.*", "2.0.0", False),
    ("1.*", "0.9.0", False),
    ("1.2.x", "1.2.0", True),
    ("1.2.X", "1.2.99", True),
    ("1.2.*", "1.3.0", False),
    ("1.x.x", "1.7.3", True),
    # a wildcard compares the pre-release too, unlike a caret
    ("1.*, >=1.5.0-0", "1.5.0-alpha", False),
    ("=1, >=1.5.0-0", "1.5.0-alpha", False),
    ("1.2.*, >=1.2.5-0", "1.2.5-alpha", False),
)

GREATER = table(
    "greater",
    (">1.2.3", "1.2.4", True),
    (">1.2.3", "1.3.0", True),
    (">1.2.3", "2.0.0", True),
    (">1.2.3", "1.2.3", False),
    (">1.2.3", "1.2.3+build", False),
    (">1.2.3", "1.2.2", False),
    (">1.2.3", "0.9.0", False),
    (">1.2", "1.2.9", False),
    (">1.2", "1.3.0", True),
    (">1", "1.9.9", False),
    (">1", "2.0.0", True),
    (">1.*", "1.9.9", False),
    (">1.*", "2.0.0", True),
    (">1.2.3-alpha", "1.2.3-alpha", False),
    (">1.2.3-alpha", "1.2.3-alpha.1", True),
    (">1.2.3-alpha", "1.2.3-beta", True),
    (">1.2.3-alpha", "1.2.3", True),
    (">1.2.3, >=1.2.4-0", "1.2.4-alpha", True),
    (">1.2, >=1.3.0-0", "1.3.0-alpha", True),
    (f">{U64_MAX}.{U64_MAX}.{U64_MAX - 1}", f"{U64_MAX}.{U64_MAX}.{U64_MAX}", True),
    (f">{U64_MAX}.{U64_MAX}.{U64_MAX}", f"{U64_MAX}.{U64_MAX}.{U64_MAX}", False),
)

GREATER_OR_EQUAL = table(
    "greater or equal",
    (">=1.2", "1.2.0", True),
    (">=1.2", "1.2.9", True),
    (">=1.2", "1.1.9", False),
    (">=1.2.3", "1.2.3", True),
    (">=1.2.3", "1.2.2", False),
    (">=1", "1.0.0", True),
    (">=1", "0.99.99", False),
    (">=1.2.3-alpha", "1.2.3-alpha", True),
    (">=1.2.3-alpha", "1.2.3-beta", True),
    (">=1.2.3-alpha", "1.2.3-0", False),
    (">=1.2.3-alpha", "1.2.3", True),
    (">=1.2.3-alpha", "1.4.0", True),
    (">=0.0.0", "0.0.0", True),
    # equal written parts with a part missing: only the "=" rule can hold,
    # and it compares the pre-release
    (">=1, >=1.5.0-0", "1.5.0-alpha", False),
    (">=1.0, >=1.5.0-0", "1.5.0-alpha", True),
)

LESS = table(
    "less",
    ("<1.2", "1.1.9", True),
    ("<1.2", "1.2.0", False),
    ("<1.2.3", "1.2.2", True),
    ("<1.2.3", "0.0.0", True),
    ("<1.2.3", "1.2.3", False),
    ("<1.2.3", "1.2.3+build", False),
    ("<2", "1.9.9", True),
    ("<2", "2.0.0", False),
    ("<2.0.0", "2.0.0-alpha", False),
    ("<2.0.0, >=2.0.0-0", "2.0.0-alpha", True),
    ("<1.2.3-beta", "1.2.3-alpha", True),
    ("<1.2.3-beta", "1.2.3-beta", False),
    ("<1.2.3-beta", "1.2.3", False),
    ("<0.0.0", "0.0.0", False),
    ("<1.*", "0.9.9", True),
    ("<1.*", "1.0.0", False),
)

LESS_OR_EQUAL = table(
    "less or equal",
    ("<=1.2", "1.2.9", True),
    ("<=1.2", "1.2.0", True),
    ("<=1.2", "1.3.0", False),
    ("<=1.2.3", "1.2.3", True),
    ("<=1.2.3", "1.2.3+build", True),
    ("<=1.2.3", "1.2.4", False),
    ("<=1", "1.9.9", True),
    ("<=1", "2.0.0", False),
    ("<=1.2.3-beta", "1.2.3-beta", True),
    ("<=1.2.3-beta", "1.2.3-alpha", True),
    ("<=1.2.3-beta", "1.2.3-beta.1", False),
    ("<=1.2.3-beta", "1.2.3", False),
)

TILDE = table(
    "tilde",
    ("~1.2.3", "1.2.3", True),
    ("~1.2.3", "1.2.9", True),
    ("~1.2.3", "1.2.2", False),
    ("~1.2.3", "1.3.0", False),
    ("~1.2", "1.2.0", True),
    ("~1.2", "1.2.99", True),
    ("~1.2", "1.3.0", False),
    ("~1.2", "1.1.0", False),
    ("~1", "1.0.0", True),
    ("~1", "1.99.0", True),
    ("~1", "2.0.0", False),
    ("~1", "0.9.0", False),
    ("~0.0.1", "0.0.1", True),
    ("~0.0.1", "0.0.2", True),
    ("~0.0.1", "0.1.0", False),
    ("~1.2.3-beta", "1.2.3-beta", True),
    ("~1.2.3-beta", "1.2.3-beta.2", True),
    ("~1.2.3-beta", "1.2.3-alpha", False),
    ("~1.2.3-beta", "1.2.3", True),
    ("~1.2.3-beta", "1.2.4", True),
    ("~1.2.3-beta", "1.2.4-alpha", False),
    ("~1.2.3-beta, >=1.2.4-0", "1.2.4-alpha", True),
    # without a patch the pre-release must rank at least as high as none
    ("~1.2, >=1.2.5-0", "1.2.5-alpha", False),
    ("~1, >=1.2.5-0", "1.2.5-alpha", False),
)

CARET = table(
    "caret",
    ("^1.2.3", "1.2.3", True),
    ("^1.2.3", "1.9.0", True),
    ("^1.2.3", "1.2.2", False),
    ("^1.2.3", "1.1.9", False),
    ("^1.2.3", "2.0.0", False),
    ("1.2.3", "1.2.3", True),
    ("1.2.3", "1.9.0", True),
    ("1.2.3", "1.2.2", False),
    ("1.2.3", "2.0.0", False),
    ("^1.2", "1.2.0", True),
    ("^1.2", "1.9.9", True),
    ("^1.2", "1.1.9", False),
    ("^1.2", "2.0.0", False),
    ("^1", "1.0.0", True),
    ("^1", "1.9.9", True),
    ("^1", "2.0.0", False),
    ("^1", "0.9.9", False),
    ("1.2.3-beta", "1.2.3-beta", True),
    ("^1.2.3-beta", "1.2.3-alpha", False),
    ("^1.2.3-beta", "1.2.3", True),
    ("^1.2.3-beta", "1.5.0", True),
    ("^1.2.3-beta", "1.5.0-beta", False),
    # below 1.0.0 the leftmost non-zero part stays fixed
    ("0.2.3", "0.2.3", True),
    ("0.2.3", "0.2.9", True),
    ("0.2.3", "0.2.2", False),
    ("0.2.3", "0.3.0", False),
    ("0.1.3", "0.1.5", True),
    ("0.1.3", "0.1.2", False),
    ("0.1.3", "0.2.0", False),
    ("0.1.0", "0.1.0", True),
    ("0.0.3", "0.0.3", True),
    ("0.0.3", "0.0.4", False),
    ("0.0.3", "0.0.2", False),
    ("0.0.3", "0.1.3", False),
    ("^0.0.0", "0.0.0", True),
    ("^0.0.0", "0.0.1", False),
    ("0.2", "0.2.0", True),
    ("0.2", "0.2.9", True),
    ("0.2", "0.3.0", False),
    ("0.2", "0.1.9", False),
    ("0.0", "0.0.0", True),
    ("0.0", "0.0.9", True),
    ("0.0", "0.1.0", False),
    ("0", "0.0.0", True),
    ("0", "0.9.9", True),
    ("0", "1.0.0", False),
    ("^0.2.3-beta", "0.2.3-rc", True),
    ("^0.2.3-beta", "0.2.4", True),
    ("^0.2.3-beta", "0.3.0", False),
    ("^0.0.3-beta", "0.0.3-beta", True),
    ("^0.0.3-beta", "0.0.3", True),
    ("^0.0.3-beta", "0.0.3-alpha", False),
    ("^0.0.3-beta", "0.0.4", False),
    # a caret without a patch places no bound on the pre-release
    ("^1, >=1.5.0-0", "1.5.0-alpha", True),
    ("^1.2, >=1.5.0-0", "1.5.0-alpha", True),
    ("^0.2, >=0.2.5-0", "0.2.5-alpha", True),
    ("^0.2.3, >=0.2.5-0", "0.2.5-alpha", True),
    ("^0.0.3, >=0.0.3-0", "0.0.3-alpha", False),
    (f"^{U64_MAX}", f"{U64_MAX}.{U64_MAX}.0", True),
    (f"^0.0.{U64_MAX}", f"0.0.{U64_MAX}", True),
)

PRERELEASE_RULE = table(
    "pre-release rule",
    ("*", "5.0.0", True),
    ("*", "5.0.0-rc.1", False),
    ("x", "0.0.0-0", False),
    (">=1.2.3-alpha", "1.2.3-beta", True),
    (">=1.2.3-alpha", "1.4.0-beta", False),
    (">=1.2.3-alpha, <1.2.3", "1.2.3-beta", True),
    (">=1.0.0, <=1.2.3-rc", "1.2.3-alpha", True),
    (">=1.0.0, <=1.2.3-rc", "1.1.0-alpha", False),
    ("=1.2.3", "1.2.3-alpha", False),
    ("1.2.3", "1.2.4-alpha", False),
    ("1.2", "1.2.0-alpha", False),
    (">=1.2.3-alpha", "1.2.4-0", False),
    (">=2.2.3-a, <3", "2.3.3-b", False),
    # the naming comparator must itself hold
    ("<1.2.3-alpha, >=1.0.0", "1.2.3-beta", False),
    # any comparator of the range may name it
    (">=1.0.0, <2.0.0, =1.5.0-rc.1", "1.5.0-rc.1", True),
    (">=1.0.0, <2.0.0, >=1.5.0-rc.1", "1.5.0-rc.2", True),
    ("<2.0.0, >=1.5.0-rc.1", "1.5.0-rc.0", False),
    # build metadata on either side plays no part
    (">=1.2.3-alpha+b", "1.2.3-beta+a", True),
)


@pytest.mark.parametrize(
    "range_text, version, expected",
    EXACT_AND_WILDCARD + GREATER + GREATER_OR_EQUAL + LESS + LESS_OR_EQUAL + TILDE + CARET + PRERELEASE_RULE,
)
def test_admits(range_text, version, expected):
    assert admits(range_text, version) is expected


def test_all_comparators_must_hold():
    available = ["1.0.0", "1.4.0", "1.5.0", "2.0.0"]
    assert resolve_version(available, ">=1.0.0, <1.5.0") == "1.4.0"
    assert resolve_version(available, ">=1.0.0, <1.5.0, ~1.0") == "1.0.0"
    assert resolve_version(available, ">=1.0.0, <1.0.0") is None
