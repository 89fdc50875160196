"""A sequence-of-str argument is read by iterating it: its items are what
iteration yields, whatever the object stores or reports as its length."""

import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, settings, strategies as st

import morvane_core as m
from morvane_core import Permissions


def listing(base, stored, iterated, length=None, items=None):
    """An instance of a `base` subclass that stores `stored` but iterates
    `iterated`, optionally with its own __len__ and __getitem__."""
    namespace = {"__iter__": lambda self: iter(list(iterated))}
    if length is not None:
        namespace["__len__"] = lambda self: length
    if items is not None:
        namespace["__getitem__"] = lambda self, i: items[i]
    return type("Custom" + base.__name__.title(), (base,), namespace)(stored)


def candidates_for(obj):
    """Requests worth testing against `obj`: what it yields, what it stores, and a few others."""
    stored = type(obj).__mro__[1].__iter__(obj)
    return sorted({"allow", "other", "b", "1.0.0", "x.org", *iter(obj), *stored})


def converted(obj, candidates):
    """What each function that takes a sequence makes of `obj`, in a form
    that can be compared with what it makes of a plain list."""
    return (
        Permissions(network_outbound=obj).network_outbound,
        Permissions(fs_read=obj).filesystem_read,
        Permissions(fs_write=obj).filesystem_write,
        m.resolve_version(obj, "*"),
        [m.is_path_allowed(c, obj) for c in candidates],
        [m.is_domain_allowed(c, obj) for c in candidates],
    )


CASES = [
    # (base, stored, iterated)
    (list, ["other"], ["allow"]),
    (list, ["a"], ["b", "cc", "ddd"]),
    (list, ["a" * 50, "b" * 50], ["c"]),
    (list, ["only"], []),
    (tuple, ("a",), ("x.org", "yy", "1.0.0")),
    (tuple, ("long-stored-text", "1.0.0"), ("s",)),
    (list, ["ascii"], ["ünï", "😀", "1.0.0"]),
    (tuple, ("ünïcödé",), ("a", "b")),
]


@pytest.mark.parametrize("base, stored, iterated", CASES)
def test_subclasses_are_read_through_their_iterator(base, stored, iterated):
    obj = listing(base, stored, iterated)
    expected = list(iterated)
    assert Permissions(fs_read=obj).filesystem_read == expected
    candidates = candidates_for(obj)
    assert converted(obj, candidates) == converted(expected, candidates)


def test_a_huge_stored_item_is_never_read():
    # Storage and iteration once disagreed here badly enough to end the process.
    script = textwrap.dedent("""
        import morvane_core as m
        class L(list):
            def __iter__(self):
                return iter(["b"])
        assert m.Permissions(fs_read=L(["a" * 100_000_000])).filesystem_read == ["b"]
        assert m.is_path_allowed("allow", L(["other"])) is False
        assert m.is_path_allowed("b", L(["other"])) is True
    """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr


class Boom(Exception):
    pass


def raising_after(*items):
    def gen():
        yield from items
        raise Boom("iteration failed")
    return gen


@pytest.mark.parametrize("iterated, error, text", [
    # the first failure in iteration order wins
    (["ok", "\ud800", 5], UnicodeEncodeError, None),
    (["ok", 5, "\ud800"], TypeError, "argument 'allowed_paths': 'int' object is not an instance of 'str'"),
    (["a", None], TypeError, "argument 'allowed_paths': 'None' is not an instance of 'str'"),
])
def test_failures_come_in_iteration_order(iterated, error, text):
    for obj in (list(iterated), tuple(iterated), listing(list, ["fine"], iterated)):
        with pytest.raises(error) as info:
            m.is_path_allowed("x", obj)
        assert type(info.value) is error
        if text is not None:
            assert str(info.value) == text


@pytest.mark.parametrize("bad, error", [(3, TypeError), ("\ud800", UnicodeEncodeError)])
def test_iteration_stops_at_the_first_item_that_fails(bad, error):
    pulled = []

    class Sequenceish(list):
        def __iter__(self):
            for item in ["a", bad, "b"]:
                pulled.append(item)
                yield item

    with pytest.raises(error):
        m.is_domain_allowed("a", Sequenceish())
    assert pulled == ["a", bad]


def test_an_endless_sequence_of_bad_items_stops_at_the_first():
    # In a child process: a conversion that reads on would never return.
    script = textwrap.dedent("""
        import morvane_core as m
        reads = 0
        class Endless:
            def __getitem__(self, i):
                global reads
                reads += 1
                return "\\ud800"
        try:
            m.is_path_allowed("x", Endless())
        except UnicodeEncodeError:
            print(reads)
    """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert (run.returncode, run.stdout.strip()) == (0, "1"), run.stderr


@pytest.mark.parametrize("before, error", [(["ok"], Boom), (["\udcff"], UnicodeEncodeError)])
def test_an_iteration_failure_comes_after_the_items_before_it(before, error):
    obj = listing(list, [], [])
    type(obj).__iter__ = lambda self: raising_after(*before)()
    with pytest.raises(error):
        m.resolve_version(obj, "*")


texts = st.lists(st.text(max_size=12) | st.sampled_from(["1.0.0", "2.1.3-rc.1", "a/**", "*.x.org", "x.org"]),
                 max_size=6)


@settings(max_examples=150, deadline=None)
@given(base=st.sampled_from([list, tuple]), stored=texts, iterated=texts,
       length=st.none() | st.integers(0, 50), items=st.none() | texts)
def test_conversion_matches_iteration(base, stored, iterated, length, items):
    stored = [t for t in stored if not any(0xD800 <= ord(c) <= 0xDFFF for c in t)]
    iterated = [t for t in iterated if not any(0xD800 <= ord(c) <= 0xDFFF for c in t)]
    obj = listing(base, stored, iterated, length, items)
    candidates = candidates_for(obj)
    assert converted(obj, candidates) == converted(list(iter(obj)), candidates)
