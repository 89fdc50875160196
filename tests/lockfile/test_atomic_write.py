"""The target holds its old or its new complete content at every moment."""

import errno
import json
import os
import random
import signal
import subprocess
import sys
import time

import pytest

import morvane_core


def os_text(errnum):
    """The message of a system failure: this system's text for the number, then the number."""
    return f"{os.strerror(errnum)} (os error {errnum})"


def big_doc(version, skills=3000):
    """A lockfile text of a few hundred kilobytes, so that writing it takes a while."""
    entry = {
        "resolved": f"{version}.0.0",
        "integrity": "sha512-" + "A" * 86 + "==",
        "permissions": {"network": {"outbound": ["api.example.com"]}, "subprocess": False},
        "audit_score": 50 + version,
        "dependencies": {"dep": "^1"},
    }
    return json.dumps({"lockfileVersion": version, "skills": {f"skill-{i:05d}": entry for i in range(skills)}})


def run_child(code, *args):
    return subprocess.run([sys.executable, "-c", code, *args], capture_output=True, text=True, timeout=60)


FAIL_AFTER_CREATING = r"""
import resource, signal, sys
import morvane_core
path, text = sys.argv[1], open(sys.argv[2]).read()
# Writes past 4096 bytes fail with EFBIG instead of killing the process.
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
try:
    morvane_core.write_lockfile(path, text)
except OSError as e:
    print(type(e).__name__, e.args)
"""


def test_failure_after_the_temporary_file_was_created_keeps_the_old_content(tmp_path):
    path = tmp_path / "skills.lock"
    morvane_core.write_lockfile(str(path), big_doc(1, skills=2))
    old = path.read_bytes()
    os.chmod(path, 0o640)
    assert len(old) < 4096
    source = tmp_path / "new.json"
    source.write_text(big_doc(2, skills=500))

    result = run_child(FAIL_AFTER_CREATING, str(path), str(source))
    assert result.stdout == f"OSError ({os_text(errno.EFBIG)!r},)\n", result.stderr
    assert path.read_bytes() == old
    assert oct(os.stat(path).st_mode & 0o777) == oct(0o640)
    assert sorted(os.listdir(tmp_path)) == ["new.json", "skills.lock"]


def test_failure_when_creating_a_new_file_leaves_nothing(tmp_path):
    source = tmp_path / "new.json"
    source.write_text(big_doc(2, skills=500))
    result = run_child(FAIL_AFTER_CREATING, str(tmp_path / "fresh.lock"), str(source))
    assert result.stdout == f"OSError ({os_text(errno.EFBIG)!r},)\n", result.stderr
    assert sorted(os.listdir(tmp_path)) == ["new.json"]


WRITE_FOREVER = r"""
import sys
import morvane_core

path, a, b = sys.argv[1], open(sys.argv[2]).read(), open(sys.argv[3]).read()
sys.stdout.write("ready\n")
sys.stdout.flush()
while True:
    morvane_core.write_lockfile(path, a)
    morvane_core.write_lockfile(path, b)
"""


@pytest.fixture
def two_documents(tmp_path):
    a, b = big_doc(1), big_doc(2)
    (tmp_path / "a.json").write_text(a)
    (tmp_path / "b.json").write_text(b)
    path = tmp_path / "data" / "skills.lock"
    path.parent.mkdir()
    morvane_core.write_lockfile(str(path), a)
    expected = {morvane_core.read_lockfile(str(path))}
    morvane_core.write_lockfile(str(path), b)
    expected.add(morvane_core.read_lockfile(str(path)))
    assert len(expected) == 2
    return path, tmp_path / "a.json", tmp_path / "b.json", expected


def start_writer(path, a, b):
    writer = subprocess.Popen(
        [sys.executable, "-c", WRITE_FOREVER, str(path), str(a), str(b)], stdout=subprocess.PIPE, text=True
    )
    assert writer.stdout.readline() == "ready\n"
    return writer


def test_writer_killed_at_random_moments_leaves_a_complete_document(two_documents, build_records):
    path, a, b, expected = two_documents
    rng = random.Random(20240607)
    for _ in range(40):
        writer = start_writer(path, a, b)
        time.sleep(rng.uniform(0.0, 0.1))
        writer.send_signal(signal.SIGKILL)
        writer.wait()
        writer.stdout.close()
        assert morvane_core.read_lockfile(str(path)) in expected
    # On Linux the new content has a name only between the link that names it
    # and the rename, a few microseconds of each write: a kill seldom leaves
    # one behind, and nothing else ever. Elsewhere it is named from the start,
    # and about a third of the kills leave one.
    leftovers = [n for n in os.listdir(path.parent) if n != "skills.lock"]
    assert all(n.startswith(".skills.lock.") and n.endswith(".tmp") for n in leftovers)
    if build_records["system calls"] == "linux":
        assert len(leftovers) <= 2, leftovers


def test_reads_during_writes_see_complete_documents(two_documents):
    path, a, b, expected = two_documents
    writer = start_writer(path, a, b)
    try:
        # Read until both documents have been seen, so the reads really did
        # overlap the writer's rewrites.
        seen = set()
        deadline = time.monotonic() + 30
        while seen != expected and time.monotonic() < deadline:
            text = morvane_core.read_lockfile(str(path))
            assert text in expected
            seen.add(text)
    finally:
        writer.kill()
        writer.wait()
        writer.stdout.close()
    assert seen == expected
