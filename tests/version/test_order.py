"""The total order that picks the highest version: each table is a chain in
ascending order, and every pair of it must resolve to the higher member
whichever way round it is listed."""

import itertools
import random

import pytest

from morvane_core import resolve_version

U64_MAX = 2**64 - 1

MIXED_CHAIN = [
    "2.1.0-a",
    "2.1.0-a.1",
    "2.1.0-a.b",
    "2.1.0-b",
    "2.1.0-b.3",
    "2.1.0-b.20",
    "2.1.0-c.1",
    "2.1.0",
    "2.1.1-a",
    "2.1.1",
]

NUMERIC_PARTS = [
    "0.0.0",
    "0.0.9",
    "0.0.10",
    "0.1.0",
    "0.9.0",
    "0.10.0",
    "1.0.0",
    "1.9.0",
    "1.10.0",
    "2.0.0",
    f"{U64_MAX}.0.0",
    f"{U64_MAX}.{U64_MAX}.{U64_MAX}",
]

PRERELEASE = [
    "1.0.0-0",
    "1.0.0-0.0",
    "1.0.0-1",
    "1.0.0-9",
    "1.0.0-10",
    f"1.0.0-{U64_MAX}",
    f"1.0.0-{U64_MAX + 1}",
    "1.0.0-99999999999999999999999",
    "1.0.0-100000000000000000000000",
    "1.0.0--",
    "1.0.0--1",
    "1.0.0-0a",
    "1.0.0-1a",
    "1.0.0-A",
    "1.0.0-Z",
    "1.0.0-a",
    "1.0.0-a.0",
    "1.0.0-a.9",
    "1.0.0-a.10",
    "1.0.0-a.a",
    "1.0.0-a.a.a",
    "1.0.0-aa",
    "1.0.0-z",
    "1.0.0",
]

SHORT_BUILD_CHAIN = ["1.0.0", "1.0.0+0", "1.0.0+00", "1.0.0+1", "1.0.0+a", "1.0.0+a.b"]

BUILD = [
    "1.0.0",
    "1.0.0+0",
    "1.0.0+00",
    "1.0.0+000",
    "1.0.0+1",
    "1.0.0+01",
    "1.0.0+9",
    "1.0.0+10",
    "1.0.0+010",
    f"1.0.0+{U64_MAX + 1}",
    f"1.0.0+00{U64_MAX + 1}",
    "1.0.0+99999999999999999999999",
    "1.0.0+-",
    "1.0.0+0a",
    "1.0.0+A",
    "1.0.0+a",
    "1.0.0+a.0",
    "1.0.0+a.00",
    "1.0.0+a.1",
    "1.0.0+a.a",
    "1.0.0+aa",
]

PRECEDENCE_BEFORE_BUILD = [
    "1.0.0-alpha+zzz",
    "1.0.0-beta",
    "1.0.0-beta+0",
    "1.0.0-beta+1",
    "1.0.0",
    "1.0.0+0",
    "1.0.0+zzz",
    "1.0.1-0",
    "1.0.1-0+a",
    "1.0.1",
]

CHAINS = {
    "mixed": MIXED_CHAIN,
    "numeric parts": NUMERIC_PARTS,
    "pre-release": PRERELEASE,
    "short build": SHORT_BUILD_CHAIN,
    "build": BUILD,
    "precedence before build": PRECEDENCE_BEFORE_BUILD,
}


def between(lo, hi):
    """A range admitting both ends of an ascending pair: each comparator names
    its end's major.minor.patch, so pre-releases there are admitted too, and
    build metadata written in a comparator is dropped."""
    return f">={lo}, <={hi}"


@pytest.mark.parametrize("name", CHAINS)
def test_every_pair_resolves_to_the_higher(name):
    chain = CHAINS[name]
    for lo, hi in itertools.combinations(chain, 2):
        range_text = between(lo, hi)
        assert resolve_version([lo, hi], range_text) == hi, (lo, hi)
        assert resolve_version([hi, lo], range_text) == hi, (lo, hi)


@pytest.mark.parametrize("name", ["numeric parts", "build", "short build"])
def test_greatest_of_a_shuffled_chain(name):
    chain = CHAINS[name]
    rng = random.Random(name)
    for _ in range(20):
        shuffled = chain[:]
        rng.shuffle(shuffled)
        assert resolve_version(shuffled, "*") == chain[-1]


def test_greatest_prerelease_of_a_shuffled_chain():
    candidates = [v for v in PRERELEASE if "-" in v]
    rng = random.Random(7)
    for _ in range(20):
        rng.shuffle(candidates)
        assert resolve_version(candidates, ">=1.0.0-0") == "1.0.0-z"


def test_order_is_not_list_position_or_text_order():
    assert resolve_version(["1.10.0", "1.9.0"], "^1") == "1.10.0"
    assert resolve_version(["1.9.0", "1.10.0"], "^1") == "1.10.0"
    assert resolve_version(["1.0.0-beta.11", "1.0.0-beta.2"], ">=1.0.0-beta") == "1.0.0-beta.11"
    assert resolve_version(["1.0.0+2", "1.0.0+10"], "*") == "1.0.0+10"
    assert resolve_version(["1.0.0+b", "1.0.0+a"], "*") == "1.0.0+b"
