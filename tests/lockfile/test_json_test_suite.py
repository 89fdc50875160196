"""The public JSON parsing test suite, with each case placed under an unknown key.

A `y_` file is valid JSON: the lockfile around it must be accepted, the value
skipped. An `n_` file is not: the lockfile must be refused. Files are read
through read_lockfile, so texts that are not UTF-8 are refused there.
"""

import json
import os
import pathlib
import re

import pytest

import morvane_core

# The shared corpora lie beside the checkout, in ../shared/corpora; MORVANE_CORPORA
# names them from elsewhere (a run in an unpacked sdist, say). Where
# MORVANE_REQUIRE_CORPORA is set, as CI sets it when they are present, their
# absence is a failure rather than a skip.
CORPORA = pathlib.Path(os.environ.get("MORVANE_CORPORA") or pathlib.Path(__file__).resolve().parents[3] / "shared/corpora")
SUITE = CORPORA / "JSONTestSuite" / "test_parsing"
CASES = sorted(p.name for p in SUITE.glob("*.json")) if SUITE.is_dir() else []
if not CASES and os.environ.get("MORVANE_REQUIRE_CORPORA"):
    raise RuntimeError(f"MORVANE_REQUIRE_CORPORA is set, but {SUITE} holds no JSONTestSuite case")

pytestmark = pytest.mark.skipif(not CASES, reason=f"JSONTestSuite corpus not present in {SUITE}")

PREFIX = b'{"lockfileVersion":7,"x":'
# A line feed before the closing brace keeps a case that ends in the middle
# of a token from being completed by it.
SUFFIX = b'\n,"skills":{}}'


def read_wrapped(tmp_path, name):
    path = tmp_path / "wrapped.lock"
    path.write_bytes(PREFIX + (SUITE / name).read_bytes() + SUFFIX)
    return morvane_core.read_lockfile(str(path))


@pytest.mark.parametrize("name", [n for n in CASES if n.startswith("y_")])
def test_valid_value_is_skipped(tmp_path, name):
    assert read_wrapped(tmp_path, name) == '{"lockfileVersion":7,"skills":{}}'


SYNTAX_KINDS = {
    "EOF while parsing a value", "EOF while parsing an object", "EOF while parsing a list",
    "EOF while parsing a string", "expected value", "expected ident", "expected `:`", "expected `,` or `}`",
    "expected `,` or `]`", "key must be a string", "trailing comma", "trailing characters", "invalid escape",
    "invalid number", "number out of range", "control character (\\u0000-\\u001F) found while parsing a string",
    "lone leading surrogate in hex escape", "unexpected end of hex escape",
}

# Cases whose fault is plain from the file, with the message the reading rules
# give once the case sits after PREFIX (25 bytes) and before SUFFIX.
EXACT = {
    "n_object_trailing_comma.json": "trailing comma at line 1 column 34",
    "n_array_extra_comma.json": "trailing comma at line 1 column 30",
    "n_string_unescaped_tab.json": "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 28",
    "n_string_unescaped_newline.json":
        "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0",
    "n_string_escape_x.json": "invalid escape at line 1 column 29",
    "n_string_incomplete_surrogate.json": "invalid escape at line 1 column 38",
    "n_string_1_surrogate_then_escape.json": "unexpected end of hex escape at line 1 column 35",
    "n_number_-01.json": "invalid number at line 1 column 29",
    "n_number_0.e1.json": "invalid number at line 1 column 29",
    "n_number_with_leading_zero.json": "invalid number at line 1 column 28",
    "n_number_+1.json": "expected value at line 1 column 27",
    "n_number_infinity.json": "expected value at line 1 column 27",
    "n_incomplete_true.json": "expected ident at line 1 column 30",
    "n_object_missing_colon.json": "expected `:` at line 1 column 31",
    "n_object_non_string_key.json": "key must be a string at line 1 column 27",
    "n_structure_UTF8_BOM_no_data.json": "expected value at line 1 column 26",
    "n_array_1_true_without_comma.json": "expected `,` or `]` at line 1 column 29",
    "n_structure_unclosed_array.json": "expected `,` or `]` at line 2 column 10",
}


@pytest.mark.parametrize("name", [n for n in CASES if n.startswith("n_")])
def test_invalid_value_is_refused(tmp_path, name):
    with pytest.raises(OSError) as info:
        read_wrapped(tmp_path, name)
    assert type(info.value) is OSError
    message = info.value.args[0]
    text = PREFIX + (SUITE / name).read_bytes() + SUFFIX
    try:
        text.decode("utf-8")
    except UnicodeDecodeError:
        assert message == "stream did not contain valid UTF-8"
        return
    if name in EXACT:
        assert message == EXACT[name]
    match = re.fullmatch(r"(.*) at line (\d+) column (\d+)", message, re.S)
    assert match, message
    kind, line, column = match.group(1), int(match.group(2)), int(match.group(3))
    # A case that closes the object early leaves it without its skills.
    assert kind in SYNTAX_KINDS or kind == "missing field `skills`"
    lines = text.split(b"\n")
    assert 1 <= line <= len(lines) and column <= len(lines[line - 1])


@pytest.mark.parametrize("name", [n for n in CASES if n.startswith("y_")])
def test_valid_value_through_write_lockfile(tmp_path, name):
    # The same cases given as Python text (all valid UTF-8) to write_lockfile.
    text = (SUITE / name).read_bytes().decode("utf-8")
    target = tmp_path / "out.lock"
    morvane_core.write_lockfile(str(target), (PREFIX + SUFFIX[:1]).decode() + text + SUFFIX.decode())
    assert json.loads(target.read_text()) == {"lockfileVersion": 7, "skills": {}}
    assert sorted(os.listdir(tmp_path)) == ["out.lock"]
