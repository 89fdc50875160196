"""Properties of the order and of resolve_version, against a small
reference model of the rules (semver_model.py beside this file)."""

import importlib.util
import itertools
from pathlib import Path

from hypothesis import given, settings
from hypothesis import strategies as st

from morvane_core import resolve_version

_source = importlib.util.spec_from_file_location("version_semver_model", Path(__file__).with_name("semver_model.py"))
model = importlib.util.module_from_spec(_source)
_source.loader.exec_module(model)

U64_MAX = model.U64_MAX

# Small alphabets and values so that equal, prefix and near-equal texts are common.
numbers = st.one_of(st.integers(0, 3), st.sampled_from([10, U64_MAX - 1, U64_MAX]))
numeric_segment = st.one_of(st.integers(0, 12), st.integers(0, 10**25)).map(str)
alnum_segment = st.text(alphabet="-0aAbz", min_size=1, max_size=4).filter(lambda s: not s.isdigit())
pre_segment = st.one_of(numeric_segment, alnum_segment)
build_segment = st.one_of(st.text(alphabet="0019", min_size=1, max_size=4), alnum_segment)
prerelease = st.one_of(st.just(""), st.lists(pre_segment, min_size=1, max_size=3).map(".".join))
build = st.one_of(st.just(""), st.lists(build_segment, min_size=1, max_size=3).map(".".join))


def version_text(core, pre, meta):
    return "{}.{}.{}".format(*core) + (f"-{pre}" if pre else "") + (f"+{meta}" if meta else "")


cores = st.tuples(numbers, numbers, numbers)
versions = st.builds(version_text, cores, prerelease, build)


@st.composite
def same_core_triples(draw):
    """Three versions of one major.minor.patch, with the range admitting
    them all: pre-releases are admitted only when a comparator names it."""
    core = draw(cores)
    triple = [version_text(core, draw(prerelease), draw(build)) for _ in range(3)]
    return triple, ">={}.{}.{}-0".format(*core)


releases = st.builds(version_text, cores, st.just(""), build)


def ascending(a, b):
    key = lambda t: model.order_key(model.parse_version(t))  # noqa: E731
    return (a, b) if key(a) <= key(b) else (b, a)


@given(versions)
def test_generated_versions_round_trip(text):
    assert model.parse_version(text) is not None
    major, minor, patch = model.parse_version(text)[:3]
    assert resolve_version([text], f">={major}.{minor}.{patch}-0") == text


@given(versions, versions)
def test_pairs_are_strictly_ordered_and_agree_with_the_model(a, b):
    lo, hi = ascending(a, b)
    range_text = f">={lo}, <={hi}"
    forward = resolve_version([a, b], range_text)
    backward = resolve_version([b, a], range_text)
    # Distinct texts never tie: a tie would let list position decide.
    assert forward == backward == hi


release_triples = st.tuples(st.lists(releases, min_size=3, max_size=3), st.just("*"))


@given(st.one_of(release_triples, same_core_triples()))
def test_three_versions_order_transitively(case):
    triple, range_text = case
    results = {resolve_version(list(p), range_text) for p in itertools.permutations(triple)}
    assert len(results) == 1
    (top,) = results
    assert top in triple
    # The greatest of three is the greatest of the greatest of two and the third.
    for x, y, z in itertools.permutations(triple):
        assert resolve_version([resolve_version([x, y], range_text), z], range_text) == top
    for other in triple:
        assert resolve_version([top, other], range_text) == top


# Ranges of one to four comparators over the same small numbers as the
# versions, with every operator, partial versions and wildcards.
operators = st.sampled_from(["", "=", ">", ">=", "<", "<=", "~", "^"])
small = st.integers(0, 3)
wild = st.sampled_from(["*", "x", "X"])


@st.composite
def comparators(draw):
    op = draw(operators)
    space = draw(st.sampled_from(["", " "])) if op else ""
    text = f"{op}{space}{draw(small)}"
    shape = draw(st.sampled_from(["major", "minor", "patch", "pre", "wild minor", "wild patch"]))
    if shape == "major":
        return text
    if shape == "wild minor":
        return f"{text}.{draw(wild)}" + draw(st.sampled_from(["", ".*", ".x"]))
    text += f".{draw(small)}"
    if shape == "minor":
        return text
    if shape == "wild patch":
        return f"{text}.{draw(wild)}"
    text += f".{draw(small)}"
    if shape == "pre":
        text += "-" + draw(st.lists(pre_segment, min_size=1, max_size=2).map(".".join))
    if draw(st.booleans()):
        text += "+" + draw(build_segment)
    return text


ranges = st.one_of(
    st.lists(comparators(), min_size=1, max_size=4).map(", ".join),
    st.sampled_from(["*", "x", " * "]),
)
small_versions = st.builds(
    version_text,
    st.tuples(small, small, small),
    st.one_of(st.just(""), st.lists(pre_segment, min_size=1, max_size=2).map(".".join)),
    build,
)
junk = st.sampled_from(["", "1.2", "01.2.3", "1.2.3-01", "1.2.3 ", "v1.2.3", "1.2.3+", "1.2.3-a..b"])
listed = st.lists(st.one_of(small_versions, small_versions, junk), max_size=12)


@settings(max_examples=400)
@given(listed, ranges)
def test_resolve_returns_the_greatest_satisfying_member(available, range_text):
    comparators_ = model.parse_range(range_text)
    assert comparators_ is not None
    result = resolve_version(available, range_text)
    satisfying = [t for t in available if (v := model.parse_version(t)) and model.satisfies(v, comparators_)]
    if not satisfying:
        assert result is None
        return
    assert result in available
    assert result in satisfying
    best = model.order_key(model.parse_version(result))
    assert all(model.order_key(model.parse_version(t)) <= best for t in satisfying)


range_noise = st.text(alphabet=" ,.*xX^~<>=-+019ab\t", max_size=16)


@settings(max_examples=400)
@given(listed, st.one_of(range_noise, ranges.map(lambda r: r + " ,"), ranges))
def test_range_validity_and_choice_agree_with_the_model(available, range_text):
    assert resolve_version(available, range_text) == model.resolve(available, range_text)
