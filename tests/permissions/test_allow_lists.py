"""Path and domain allow-list tests."""

import pytest
from hypothesis import given, strategies as st

from morvane_core import is_domain_allowed, is_path_allowed

from allow_list_model import domain_model, path_model

PATHS = [
    # (request, entries, expected)
    ("", [], False),
    ("src/a.py", [], False),
    ("src/a.py", ["src/a.py"], True),
    ("src", ["src/**"], True),
    ("src/", ["src/**"], True),
    ("src/a/b.txt", ["src/**"], True),
    ("src//a", ["src/**"], True),
    ("srcx/a", ["src/**"], False),
    ("./src/a", ["src/**"], False),
    ("SRC/a", ["src/**"], False),
    ("/src/a", ["src/**"], False),
    ("src/a", ["src"], False),
    ("src/a", ["src/"], False),
    ("src/", ["src"], False),
    ("src/", ["src/"], True),
    ("/etc/x", ["/**"], True),
    ("/", ["/**"], True),
    ("", ["/**"], True),
    ("a/b", ["/**"], False),
    ("src/x", ["src/*"], False),
    ("src/x", ["**"], False),
    ("**", ["**"], True),
    ("src/x", ["*"], False),
    ("src/x", ["src/*", "src/x"], True),
    ("src/a/x/b", ["src/**/b"], False),
    # backslashes are slashes on both sides
    ("src\\a\\b", ["src\\**"], True),
    ("src\\a\\b", ["src/**"], True),
    ("src/a", ["src\\a"], True),
    ("src\\a", ["src/a"], True),
    ("src", ["src\\**"], True),
    # ".." anywhere refuses the request, whatever the list holds
    ("src/../etc", ["src/**"], False),
    ("src/a..b", ["src/**", "src/a..b"], False),
    ("..", ["/**", ".."], False),
    ("...", ["..."], False),
    ("/x/..", ["/**"], False),
    (".\\.", ["/**", ".\\."], True),
    ("src/./a", ["src/**"], True),
    # the base of a recursive entry may be empty: "/**" is base "" plus "/"
    ("x", ["/**"], False),
    # entries holding ".." can never help
    ("src/a", ["src/../**"], False),
    # multi-byte text is compared byte for byte
    ("dünn/ä", ["dünn/**"], True),
    ("dunn/a", ["dünn/**"], False),
]


@pytest.mark.parametrize("request_path, entries, expected", PATHS)
def test_path_test(request_path, entries, expected):
    assert is_path_allowed(request_path, entries) is expected


DOMAINS = [
    ("", [], False),
    ("example.org", [], False),
    ("example.org", ["*.example.org"], True),
    ("api.example.org", ["*.example.org"], True),
    ("a.b.example.org", ["*.example.org"], True),
    ("badexample.org", ["*.example.org"], False),
    ("example.org.", ["*.example.org"], False),
    # only the part after the wildcard is compared, so case matters there alone
    ("API.example.org", ["*.example.org"], True),
    ("api.EXAMPLE.org", ["*.example.org"], False),
    ("EXAMPLE.ORG", ["example.org"], False),
    ("*", ["*"], True),
    ("example.org", ["*"], False),
    ("api.x.org", ["api.*.org"], False),
    ("api.*.org", ["api.*.org"], True),
    ("example.org", ["*example.org"], False),
    ("badexample.org", ["*example.org"], False),
    ("a.", ["*."], True),
    ("", ["*."], True),
    (".", ["*."], True),
    ("a", ["*."], False),
    ("example.org", ["example.org"], True),
    ("api.example.org", ["example.org"], False),
    (" example.org", ["example.org"], False),
    ("example.org:443", ["example.org"], False),
    ("x.org", ["a.org", "*.b.org", "x.org"], True),
    (".example.org", ["*.example.org"], True),
    ("example.org", ["*.", "*.org"], True),
    ("bücher.de", ["*.de"], True),
]


@pytest.mark.parametrize("domain, entries, expected", DOMAINS)
def test_domain_test(domain, entries, expected):
    assert is_domain_allowed(domain, entries) is expected


path_text = st.text(alphabet="ab/\\.*é", max_size=8)
domain_text = st.text(alphabet="ab.*-É", max_size=8)


@given(path_text, st.lists(path_text, max_size=5))
def test_path_test_agrees_with_the_model(request_path, entries):
    assert is_path_allowed(request_path, entries) is path_model(request_path, entries)


@given(domain_text, st.lists(domain_text, max_size=5))
def test_domain_test_agrees_with_the_model(domain, entries):
    assert is_domain_allowed(domain, entries) is domain_model(domain, entries)


@given(path_text, st.lists(path_text, max_size=5))
def test_entry_order_never_changes_the_answer(request_path, entries):
    assert is_path_allowed(request_path, entries) is is_path_allowed(request_path, entries[::-1])
