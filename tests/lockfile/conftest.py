"""Helpers shared by the lockfile tests."""

import pytest

import morvane_core


@pytest.fixture
def json_error(tmp_path):
    """The ValueError text write_lockfile gives for `text`; the file is never created."""

    def run(text):
        target = tmp_path / "never.lock"
        with pytest.raises(ValueError) as info:
            morvane_core.write_lockfile(str(target), text)
        assert type(info.value) is ValueError
        assert len(info.value.args) == 1
        assert not target.exists()
        return info.value.args[0]

    return run


@pytest.fixture
def normalise(tmp_path):
    """Writes `text` with write_lockfile and returns what read_lockfile gives back."""

    def run(text):
        target = tmp_path / "doc.lock"
        morvane_core.write_lockfile(str(target), text)
        return morvane_core.read_lockfile(str(target))

    return run


@pytest.fixture
def stored(tmp_path):
    """The bytes write_lockfile stores for `text`."""

    def run(text):
        target = tmp_path / "stored.lock"
        morvane_core.write_lockfile(str(target), text)
        return target.read_bytes()

    return run
