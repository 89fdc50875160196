"""The example installer against the shipped registry."""

import json
import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
INSTALLER = ROOT / "examples" / "install_skill.py"
REGISTRY = ROOT / "examples" / "registry"


def install(project, request, *extra, **run_args):
    run_args.setdefault("capture_output", True)
    return subprocess.run([sys.executable, str(INSTALLER), request, "--project", str(project), *extra],
                          text=True, timeout=60, **run_args)


def tree(path):
    return sorted(str(p.relative_to(path)) for p in path.rglob("*"))


def test_shipped_archives_match_the_builder(tmp_path):
    """The committed registry is exactly what registry/build.py produces."""
    import shutil
    copy = tmp_path / "registry"
    shutil.copytree(REGISTRY, copy)
    for f in copy.iterdir():
        if f.name != "build.py":
            f.unlink()
    subprocess.run([sys.executable, str(copy / "build.py")], check=True)
    for f in REGISTRY.iterdir():
        assert (copy / f.name).read_bytes() == f.read_bytes(), f.name


def test_successful_install_writes_files_and_lockfile(tmp_path):
    run = install(tmp_path, "weather@^1.0", umask=0o022)
    assert run.returncode == 0, run.stderr
    assert "chose weather 1.2.0" in run.stdout  # 1.3.0-beta.1 is a pre-release, 2.0.0 is out of range
    skill_dir = tmp_path / "skills" / "weather"
    assert tree(skill_dir) == ["README.md", "skill.json", "src", "src/main.py"]
    # The mode any folder made under the umask gets, not a temporary folder's 0700.
    assert oct(skill_dir.stat().st_mode & 0o777) == oct(0o755)
    assert json.loads((skill_dir / "skill.json").read_text())["version"] == "1.2.0"
    lock = json.loads((tmp_path / "skills-lock.json").read_text())
    entry = lock["skills"]["weather"]
    assert entry["resolved"] == "1.2.0"
    index = json.loads((REGISTRY / "index.json").read_text())
    assert entry["integrity"] == index["skills"]["weather"]["versions"]["1.2.0"]["integrity"]
    assert entry["permissions"] == {"network": {"outbound": ["api.weather.example"]},
                                    "filesystem": {"read": ["./data/**"], "write": []}, "subprocess": False}
    # the last thing printed is the lockfile as read_lockfile returns it
    assert json.loads(run.stdout.strip().splitlines()[-1]) == lock


def test_reinstall_gives_a_byte_identical_lockfile(tmp_path):
    assert install(tmp_path, "weather@^1.0").returncode == 0
    assert install(tmp_path, "formatter@~0.2.0", "--budget", str(ROOT / "examples" / "budget.json")).returncode == 1
    assert install(tmp_path, "formatter@0.1").returncode == 0
    first = (tmp_path / "skills-lock.json").read_bytes()
    assert install(tmp_path, "weather@^1.0").returncode == 0
    assert install(tmp_path, "formatter@0.1").returncode == 0
    assert (tmp_path / "skills-lock.json").read_bytes() == first
    assert list(json.loads(first)["skills"]) == ["formatter", "weather"]


@pytest.mark.parametrize("skill_request, message", [
    ("weather@>=3", "error: no version of weather matches '>=3' (available: 1.0.0, 1.1.0, 1.2.0, 1.3.0-beta.1, 2.0.0)"),
    ("nothing", "error: no skill named 'nothing' in the registry"),
    ("formatter@0.2.1",
     "error: integrity check failed for formatter 0.2.1: SHA-512 mismatch: expected "),
    ("shell-runner",
     "error: Permission denied: shell-runner requires subprocess access, but project budget does not allow it "
     "(2 violations in all)"),
    ("sneaky", "error: refused archive: Path traversal in tarball: package/../../outside.txt"),
])
def test_failures_leave_the_lockfile_as_it_was(tmp_path, skill_request, message):
    assert install(tmp_path, "weather@1.0.0").returncode == 0
    before = (tmp_path / "skills-lock.json").read_bytes()
    files_before = tree(tmp_path)
    run = install(tmp_path, skill_request)
    assert run.returncode == 1
    lines = run.stderr.strip().splitlines()
    assert len(lines) == 1 and lines[0].startswith(message), run.stderr
    assert (tmp_path / "skills-lock.json").read_bytes() == before
    assert tree(tmp_path) == files_before
    assert not (tmp_path.parent / "outside.txt").exists()


def test_budget_violations_are_listed_before_the_error(tmp_path):
    # Both streams into one pipe, as a redirection to one file makes them, and
    # standard output buffered, as it is by default.
    env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
    run = install(tmp_path, "shell-runner@1.0.0", capture_output=False, stdout=subprocess.PIPE,
                  stderr=subprocess.STDOUT, env=env)
    assert run.stdout.endswith("    violation: subprocess true\n    violation: filesystem.write /etc/cron.d/**\n"
                               "error: Permission denied: shell-runner requires subprocess access, "
                               "but project budget does not allow it (2 violations in all)\n"), run.stdout


def test_help(tmp_path):
    run = subprocess.run([sys.executable, str(INSTALLER), "--help"], capture_output=True, text=True)
    assert run.returncode == 0 and "--project" in run.stdout and "--registry" in run.stdout
