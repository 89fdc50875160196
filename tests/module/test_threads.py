"""Long native work runs with the GIL released, so other threads keep running."""

import gzip
import os
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


def archive_of(*entries):
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.GNU_FORMAT) as t:
        for name, data in entries:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
    return gzip.compress(raw.getvalue(), compresslevel=1)


def large_archive():
    # Four files of 40 MiB: cheap to compress, and writing them takes a while.
    body = bytes(range(256)) * (40 * 4096)
    return archive_of(*((f"package/big{i}", body) for i in range(4)))


def test_extraction_lets_other_threads_run(tmp_path):
    data = large_archive()
    assert ticks_during(lambda: morvane_core.extract_tarball(data, str(tmp_path))) >= 10


def test_hashing_lets_other_threads_run():
    data = random.Random(8).randbytes(96 * 1024 * 1024)

    def verify():
        with pytest.raises(ValueError):
            morvane_core.verify_integrity(data, "sha512-x")

    assert ticks_during(verify) >= 10


def thread_count():
    return len(os.listdir("/proc/self/task"))


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
def test_no_thread_outlives_an_extraction(tmp_path):
    # Both are large enough to be decompressed on a second thread; the refusal
    # of the first entry leaves most of the stream unread.
    body = random.Random(9).randbytes(1024 * 1024)
    refused = archive_of(("package/../x", b"1"), ("package/big", body))
    accepted = archive_of(("package/f", body[:256 * 1024]))
    before = thread_count()
    for _ in range(50):
        with pytest.raises(OSError, match="Path traversal"):
            morvane_core.extract_tarball(refused, str(tmp_path / "dest"))
        assert morvane_core.extract_tarball(accepted, str(tmp_path / "ok")) == ["f"]
    assert thread_count() == before
