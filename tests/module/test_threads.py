"""Long native work runs with the GIL released, so other threads keep running."""

import gzip
import io
import random
import tarfile
import threading
import time

import pytest

import morvane_core


def ticks_during(call):
    """How many times another Python thread ran while `call` was running."""
    stamps = []
    stop = threading.Event()

    def ticker():
        while not stop.is_set():
            stamps.append(time.perf_counter())
            time.sleep(0.0005)

    thread = threading.Thread(target=ticker)
    thread.start()
    while not stamps:
        time.sleep(0.001)
    start = time.perf_counter()
    call()
    end = time.perf_counter()
    stop.set()
    thread.join()
    # Holding the GIL for the whole call lets the ticker run at most once or
    # twice around its edges; a call of this length gives it dozens of turns.
    assert end - start > 0.05, "the call was too short to tell"
    return sum(start < t < end for t in stamps)


def large_archive():
    # Four files of 40 MiB: cheap to compress, and writing them takes a while.
    body = bytes(range(256)) * (40 * 4096)
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w") as t:
        for i in range(4):
            info = tarfile.TarInfo(f"package/big{i}")
            info.size = len(body)
            t.addfile(info, io.BytesIO(body))
    return gzip.compress(raw.getvalue(), compresslevel=1)


def test_extraction_lets_other_threads_run(tmp_path):
    data = large_archive()
    assert ticks_during(lambda: morvane_core.extract_tarball(data, str(tmp_path))) >= 10


def test_hashing_lets_other_threads_run():
    data = random.Random(8).randbytes(96 * 1024 * 1024)

    def verify():
        with pytest.raises(ValueError):
            morvane_core.verify_integrity(data, "sha512-x")

    assert ticks_during(verify) >= 10
