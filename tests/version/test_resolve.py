"""resolve_version as a whole: which listed text comes back, and when None."""

import pytest

from morvane_core import resolve_version

BASIC = ["1.0.0", "1.2.0", "2.0.0"]


@pytest.mark.parametrize(
    "range_text, expected",
    [
        ("^1", "1.2.0"),
        ("1.0.0", "1.2.0"),
        (">=1.0.0, <1.1.0", "1.0.0"),
        (">=3", None),
        ("*", "2.0.0"),
        ("<1", None),
        ("~1.0", "1.0.0"),
        ("=1.2", "1.2.0"),
    ],
)
def test_greatest_satisfying_version(range_text, expected):
    assert resolve_version(BASIC, range_text) == expected


@pytest.mark.parametrize("range_text", ["*", "x", ">=0.0.0", "^1", ">=0.0.0-0"])
def test_empty_list_gives_none(range_text):
    assert resolve_version([], range_text) is None


@pytest.mark.parametrize("range_text", ["", "latest", ">=1.0 <2.0", "1.0, *", "~>1.0"])
def test_invalid_range_gives_none_even_with_versions(range_text):
    assert resolve_version(BASIC + ["1.0.1", "0.1.0"], range_text) is None


def test_prereleases_only_when_named():
    available = ["1.9.0", "2.0.0-rc.1"]
    assert resolve_version(available, "*") == "1.9.0"
    assert resolve_version(available, ">=2.0.0-rc.1") == "2.0.0-rc.1"
    assert resolve_version(available, ">=1.9.0") == "1.9.0"
    assert resolve_version(["2.0.0-rc.1"], "*") is None


def test_build_metadata_breaks_ties():
    assert resolve_version(["1.0.0", "1.0.0+build"], "=1.0.0") == "1.0.0+build"
    assert resolve_version(["1.0.0+build", "1.0.0"], "=1.0.0") == "1.0.0+build"
    assert resolve_version(["1.0.0+b", "1.0.0+a"], "*") == "1.0.0+b"
    assert resolve_version(["1.0.0+2", "1.0.0+10"], "*") == "1.0.0+10"
    assert resolve_version(["1.0.0+1", "1.0.0+01", "1.0.0+001"], "*") == "1.0.0+001"


def test_returned_text_is_the_listed_text():
    listed = "1.2.3-alpha.1+build.7"
    assert resolve_version(["1.2.2", listed, "1.2.3-alpha.0"], ">=1.2.3-alpha") == listed


def test_duplicates_and_invalid_neighbours():
    assert resolve_version(["1.0.0", "1.0.0", "1.0"], "*") == "1.0.0"
    assert resolve_version(["1.0", "1.0.0 ", "\u0661.0.0", "0.0.1"], "*") == "0.0.1"


def test_non_ascii_and_control_characters_are_never_versions():
    for text in ["1.0.0-é", "1.0.0+😀", "1.0.0\x00", "1.0.0-a\x7f"]:
        assert resolve_version([text], "*") is None
        assert resolve_version([text], ">=1.0.0-0") is None


def test_accepts_any_sequence_of_str_and_keywords():
    assert resolve_version(available=("1.0.0", "1.1.0"), range="^1") == "1.1.0"
    assert resolve_version(range="*", available=["3.0.0"]) == "3.0.0"


@pytest.mark.parametrize(
    "available, range_text, message",
    [
        ("1.0.0", "*", "argument 'available': Can't extract `str` to `Vec`"),
        (["1.0.0", 1], "*", "argument 'available': 'int' object is not an instance of 'str'"),
        ({"1.0.0"}, "*", "argument 'available': 'set' object is not an instance of 'Sequence'"),
        (["1.0.0"], None, "argument 'range': 'None' is not an instance of 'str'"),
        (["1.0.0"], b"*", "argument 'range': 'bytes' object is not an instance of 'str'"),
    ],
)
def test_argument_types(available, range_text, message):
    with pytest.raises(TypeError) as info:
        resolve_version(available, range_text)
    assert info.value.args == (message,)


def test_many_versions():
    parts = [(i % 7, i % 13, i) for i in range(10_000)]
    available = ["{}.{}.{}".format(*p) for p in parts]
    caret = max(p for p in parts if p[0] == 3 and p[1] >= 5)
    below = max(p for p in parts if p[:2] == (0, 0))
    assert resolve_version(available, "^3.5") == "{}.{}.{}".format(*caret)
    assert resolve_version(available, "<0.1") == "{}.{}.{}".format(*below)
