"""The public JSON parsing test suite, with each case placed under an unknown key.

A `y_` file is valid JSON: the lockfile around it must be accepted, the value
skipped. An `n_` file is not: the lockfile must be refused. Files are read
through read_lockfile, so texts that are not UTF-8 are refused there.
"""

import json
import os
import pathlib

import pytest

import morvane_core

SUITE = pathlib.Path("/work/shared/corpora/JSONTestSuite/test_parsing")
CASES = sorted(p.name for p in SUITE.glob("*.json")) if SUITE.is_dir() else []

pytestmark = pytest.mark.skipif(not CASES, reason="JSONTestSuite corpus not present")

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


@pytest.mark.parametrize("name", [n for n in CASES if n.startswith("n_")])
def test_invalid_value_is_refused(tmp_path, name):
    with pytest.raises(OSError) as info:
        read_wrapped(tmp_path, name)
    assert type(info.value) is OSError
    message = info.value.args[0]
    assert message == "stream did not contain valid UTF-8" or " at line " in message


@pytest.mark.parametrize("name", [n for n in CASES if n.startswith("y_")])
def test_valid_value_through_write_lockfile(tmp_path, name):
    # The same cases given as Python text (all valid UTF-8) to write_lockfile.
    text = (SUITE / name).read_bytes().decode("utf-8")
    target = tmp_path / "out.lock"
    morvane_core.write_lockfile(str(target), (PREFIX + SUFFIX[:1]).decode() + text + SUFFIX.decode())
    assert json.loads(target.read_text()) == {"lockfileVersion": 7, "skills": {}}
    assert sorted(os.listdir(tmp_path)) == ["out.lock"]
