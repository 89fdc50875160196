"""The installed type stubs: a type checker accepts correct use and rejects a wrong argument."""

import shutil
import subprocess
import sys

import pytest

pytest.importorskip("mypy")

GOOD = """
from __future__ import annotations

import morvane_core as m

budget = m.Permissions(network_outbound=["*.example.org"], subprocess=False)
skill = m.Permissions(["api.example.org"], fs_read=("src/**",))
found: list[m.PermissionViolation] = m.collect_permission_violations(budget, skill, "s")
kinds: list[str] = [v.violation_type for v in found]
paths: list[str] | None = skill.filesystem_read
chosen: str | None = m.resolve_version(["1.0.0"], "^1")
written: list[str] = m.extract_tarball(b"", "dest")
digest: str = m.verify_integrity(b"", "sha512-")
text: str = m.read_lockfile("lock.json")
m.write_lockfile("lock.json", text)
ok: bool = m.is_path_allowed("a", ["a"]) and m.is_domain_allowed("a", ("a",))
m.check_permission_budget(budget, skill, "s")
"""

BAD = """
import morvane_core as m

m.extract_tarball("not bytes", "dest")
"""


def mypy(tmp_path, source):
    path = tmp_path / "snippet.py"
    path.write_text(source)
    # The cache in files, not in sqlite3: the musl interpreter of
    # scripts/musl_check.sh has no sqlite3 module.
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--no-sqlite-cache", str(path)],
                          capture_output=True, text=True, cwd=tmp_path)


def test_correct_use_passes(tmp_path):
    run = mypy(tmp_path, GOOD)
    assert run.returncode == 0, run.stdout + run.stderr


def test_wrong_argument_type_fails(tmp_path):
    run = mypy(tmp_path, BAD)
    assert run.returncode == 1
    assert 'Argument 1 to "extract_tarball" has incompatible type "str"; expected "bytes"' in run.stdout
