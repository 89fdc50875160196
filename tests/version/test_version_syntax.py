"""Which texts are versions: seen through resolve_version, which skips the rest."""

import re

import pytest

from morvane_core import resolve_version

U64_MAX = 2**64 - 1


def probe(text):
    """A range that admits `text` if it is read as a version, and a control
    version that the range admits (showing the range itself is valid).

    The range is ">=M.m.p-0": every version of that major.minor.patch,
    pre-releases included (a pre-release of exactly "0" is the lowest), and
    every later one. Texts with no such prefix, or with numbers too large to
    write in a range, are probed with "*".
    """
    m = re.match(r"([0-9]+)\.([0-9]+)\.([0-9]+)", text)
    if m:
        parts = [int(g) for g in m.groups()]
        if max(parts) <= U64_MAX:
            core = "{}.{}.{}".format(*parts)
            return ">=" + core + "-0", core
    return "*", "0.0.0"


def is_version(text):
    range_text, control = probe(text)
    assert resolve_version([control], range_text) == control
    return resolve_version([text], range_text) == text


VALID = [
    "0.0.0",
    "1.2.3",
    "1.2.3-0",
    "1.2.3-0a",
    "1.2.3-a0",
    "1.2.3-00a",
    "1.2.3-alpha.1",
    "1.2.3-alpha.0.beta",
    "1.2.3-x-y",
    "1.2.3--",
    "1.2.3---1",
    "1.2.3--01",
    "1.2.3-A.Z.a.z.0.9",
    "1.2.3+0",
    "1.2.3+00",
    "1.2.3+001",
    "1.2.3+-",
    "1.2.3+a-",
    "1.2.3+01.002.a-b",
    "1.2.3-rc.1+build.5",
    "1.2.3-rc.1+001",
    "10.20.30",
    f"{U64_MAX}.0.0",
    f"0.{U64_MAX}.0",
    f"0.0.{U64_MAX}",
    f"{U64_MAX}.{U64_MAX}.{U64_MAX}-{U64_MAX}0+{U64_MAX}0",
    "1.2.3-" + "9" * 200,
    "1.2.3+" + "0" * 200,
    "1.2.3-" + ".".join(["a"] * 300),
]

INVALID = [
    # missing or extra numeric parts
    "",
    "1",
    "1.2",
    "1.2.",
    "1..3",
    ".1.2.3",
    "1.2.3.4",
    "1.2.3.",
    # prefixes, spaces and other white space
    "v1.2.3",
    "=1.2.3",
    " 1.2.3",
    "1.2.3 ",
    "1 .2.3",
    "1.2.3\t",
    "1.2.3\n",
    "1.2.3\x00",
    "1.2.3-a b",
    # leading zeros in numeric parts
    "01.2.3",
    "1.02.3",
    "1.2.03",
    "00.0.0",
    # 2^64 in each place
    f"{U64_MAX + 1}.0.0",
    f"0.{U64_MAX + 1}.0",
    f"0.0.{U64_MAX + 1}",
    "1" + "0" * 30 + ".0.0",
    # pre-release
    "1.2.3-",
    "1.2.3-01",
    "1.2.3-00",
    "1.2.3-a.01",
    "1.2.3-0.00",
    "1.2.3-a..b",
    "1.2.3-.a",
    "1.2.3-a.",
    "1.2.3-a_b",
    "1.2.3-ä",
    "1.2.3-a+",
    # the ASCII neighbours of the identifier characters
    "1.2.3-a,b",
    "1.2.3-/",
    "1.2.3-:",
    "1.2.3-@",
    "1.2.3-[",
    "1.2.3-`",
    "1.2.3-{",
    "1.2.3-a/",
    "1.2.3-:0",
    # build metadata
    "1.2.3+",
    "1.2.3+a+b",
    "1.2.3+a..b",
    "1.2.3+.a",
    "1.2.3+a.",
    "1.2.3+a-b_c",
    "1.2.3+é",
    "1.2.3+,",
    "1.2.3+/",
    "1.2.3+:",
    "1.2.3+@",
    "1.2.3+[",
    "1.2.3+`",
    "1.2.3+{",
    # signs and wildcards are not numbers
    "-1.2.3",
    "+1.2.3",
    "1.x.3",
    "1.2.*",
    "１.2.3",  # a full-width digit
]


@pytest.mark.parametrize("text", VALID)
def test_valid_versions_are_returned_as_written(text):
    assert is_version(text)


@pytest.mark.parametrize("text", INVALID)
def test_invalid_versions_are_skipped(text):
    assert not is_version(text)


@pytest.mark.parametrize("place", range(3))
def test_each_numeric_part_holds_exactly_64_bits(place):
    def text(value):
        parts = ["0", "0", "0"]
        parts[place] = str(value)
        return ".".join(parts)

    assert resolve_version([text(U64_MAX)], "*") == text(U64_MAX)
    assert resolve_version([text(U64_MAX + 1)], "*") is None
    assert resolve_version([text(10 * U64_MAX)], "*") is None


def test_invalid_entries_are_skipped_among_valid_ones():
    assert resolve_version(["v1.5.0", "1.4", "1.3.0 ", "1.2.0"], "^1") == "1.2.0"
    assert resolve_version(["9.9.9-01", "1.0.0", "09.0.0"], "*") == "1.0.0"


def test_no_valid_version_gives_none():
    assert resolve_version([], "*") is None
    assert resolve_version(["latest", "", "1.2"], "*") is None
