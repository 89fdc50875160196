"""Every call runs on the calling thread and holds the GIL from start to end.

Callers rely on it: two calls from different Python threads run one after the
other, so threads extracting into the same folder or writing the same lockfile
never interleave.
"""

import gzip
import io
import json
import os
import random
import subprocess
import sys
import tarfile
import threading
import time

import pytest

import morvane_core


def archive_of(*entries):
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.GNU_FORMAT) as t:
        for name, data in entries:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
    return gzip.compress(raw.getvalue(), compresslevel=1)


def large_lockfile_text():
    skill = {"resolved": "1.2.3", "integrity": "sha512-" + "A" * 86 + "==",
             "permissions": {"network": {"outbound": [f"api{i}.example.org" for i in range(8)]},
                             "filesystem": {"read": ["./data/**"], "write": ["./out/**"]}, "subprocess": False},
             "audit_score": 87.5, "dependencies": {"left-pad": "^1.0.0"}}
    return json.dumps({"lockfileVersion": 1, "skills": {f"skill-{i:06}": skill for i in range(40_000)}})


@pytest.fixture(scope="module")
def long_calls(tmp_path_factory):
    """Calls that each take well over 20 ms, by name."""
    work = tmp_path_factory.mktemp("long")
    # 40 MiB of random letters from sixteen: few matches, so inflating it is
    # slow enough to time even for a fast inflater.
    letters = bytes(b"abcdefghijklmnop"[i % 16] for i in range(256))
    archive = archive_of(("package/big", random.Random(8).randbytes(40 * 1024 * 1024).translate(letters)))
    digest_input = random.Random(8).randbytes(96 * 1024 * 1024)
    lock_text = large_lockfile_text()
    lock_path = str(work / "skills.lock")
    counter = iter(range(1_000_000))

    def verify():
        with pytest.raises(ValueError):
            morvane_core.verify_integrity(digest_input, "sha512-x")

    return {
        "extract_tarball": lambda: morvane_core.extract_tarball(archive, str(work / f"dest{next(counter)}")),
        "verify_integrity": verify,
        "write_lockfile": lambda: morvane_core.write_lockfile(lock_path, lock_text),
        "read_lockfile": lambda: morvane_core.read_lockfile(lock_path),
    }


@pytest.mark.parametrize("name", ["extract_tarball", "verify_integrity", "write_lockfile", "read_lockfile"])
def test_no_other_python_thread_runs_during_a_call(long_calls, name):
    if name == "read_lockfile":
        long_calls["write_lockfile"]()
    stamps = []
    stop = threading.Event()

    def ticker():
        # The last stamp is taken once the call is over.
        while True:
            stamps.append(time.perf_counter())
            if stop.is_set():
                break
            time.sleep(0.0002)

    # With no forced hand-over between bytecodes, the ticker gets the GIL
    # back only when the main thread lets go of it: in its sleeps here, or
    # inside a call that released it.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(100.0)
    try:
        thread = threading.Thread(target=ticker)
        thread.start()
        while len(stamps) < 3:
            time.sleep(0.001)
        start = time.perf_counter()
        long_calls[name]()
        end = time.perf_counter()
        stop.set()
        thread.join()
    finally:
        sys.setswitchinterval(interval)
    # A hundred of the ticker's turns at the least.
    assert end - start > 0.02, "the call was too short to tell"
    # The ticker's longest pause spans the call. A call that let go of the
    # GIL would give the ticker a turn every fraction of a millisecond. A busy
    # machine may delay the ticker, which only lengthens its pauses.
    longest = max(b - a for a, b in zip(stamps, stamps[1:]))
    assert longest >= 0.9 * (end - start)


# A second process lists this process's threads as fast as it can while the
# calls run, and reports every thread id it saw.
WATCHER = r"""
import os, sys
task = f"/proc/{sys.argv[1]}/task"
seen = set(os.listdir(task))
print("ready", flush=True)
while True:
    try:
        seen.update(os.listdir(task))
    except FileNotFoundError:
        break
    if os.path.exists(sys.argv[2]):
        break
print(" ".join(sorted(seen)), flush=True)
"""


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
def test_no_thread_is_started_during_a_call(long_calls, tmp_path):
    # Thread ids, not a count: a thread of an earlier test may still be
    # exiting, which takes one away but adds none.
    before = set(os.listdir("/proc/self/task"))
    done = tmp_path / "done"
    watcher = subprocess.Popen([sys.executable, "-c", WATCHER, str(os.getpid()), str(done)],
                               stdout=subprocess.PIPE, text=True)
    try:
        assert watcher.stdout.readline().strip() == "ready"
        for name in ("extract_tarball", "verify_integrity", "write_lockfile", "read_lockfile"):
            long_calls[name]()
        # A refusal that leaves most of a large stream unread.
        with pytest.raises(OSError, match="Path traversal"):
            morvane_core.extract_tarball(
                archive_of(("package/../x", b"1"), ("package/big", random.Random(9).randbytes(1 << 20))),
                str(tmp_path / "refused"))
    finally:
        done.touch()
        seen = set(watcher.communicate(timeout=60)[0].split())
    assert str(os.getpid()) in seen  # the watcher did see this process's threads
    assert seen <= before
    assert set(os.listdir("/proc/self/task")) <= before
