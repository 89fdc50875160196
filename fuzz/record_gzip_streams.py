#!/usr/bin/env python3
"""Writes every gzip stream that the archive tests extract (each made by the
suite's archive builders, tests/archive/archive_builders.py) into a folder,
named by its hash, with the module installed:

    python fuzz/record_gzip_streams.py STREAMS

fuzz/inflaters_agree.sh reads such streams with both inflaters. The project
keeps the smallest set of them that reaches all their coverage, as gzip_fuzz
counts it, in fuzz/corpus/archive_tests; when the archive tests gain cases,
record them (a few runs: the tests drawn by hypothesis differ from run to run)
and let libFuzzer pick the set again:

    build/fuzz/fuzz/gzip_fuzz -merge=1 -max_len=4194304 fuzz/corpus/archive_tests STREAMS

Streams over 4 MiB are left out: they add length, not cases.
"""

import hashlib
import os
import pathlib
import sys

import pytest

import morvane_core

LARGEST = 4 << 20


class Recorder:
    """A pytest plugin that records each gzip stream passed to extract_tarball."""

    def __init__(self, out):
        self.out = out

    def pytest_configure(self, config):
        extract = morvane_core.extract_tarball

        def recording(*args, **kwargs):
            data = args[0] if args else kwargs.get("data")
            if isinstance(data, bytes) and data[:2] == b"\x1f\x8b" and len(data) <= LARGEST:
                (self.out / f"{hashlib.sha256(data).hexdigest()[:24]}.gz").write_bytes(data)
            return extract(*args, **kwargs)

        morvane_core.extract_tarball = recording


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = pathlib.Path(sys.argv[1]).resolve()
    out.mkdir(parents=True, exist_ok=True)
    # Some tests extract as another user, in a child process.
    os.chmod(out, 0o1777)
    root = pathlib.Path(__file__).resolve().parents[1]
    try:
        status = pytest.main(["-q", "-p", "no:cacheprovider", "-p", "no:xdist", str(root / "tests" / "archive")],
                             plugins=[Recorder(out)])
    finally:
        os.chmod(out, 0o755)
    print(f"{len(list(out.iterdir()))} streams in {out}")
    return int(status)


if __name__ == "__main__":
    sys.exit(main())
