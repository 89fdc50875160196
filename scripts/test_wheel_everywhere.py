#!/usr/bin/env python3
"""Installs a target's release wheel into a fresh virtual environment of
every CPython 3.9 and later on this machine and runs the tests in each: the
"cpythons" place of scripts/targets.txt.

    scripts/test_wheel_everywhere.py DIST TRIPLE [EXTENT]

DIST is the folder scripts/build_release.sh wrote; TRIPLE the target whose
wheel is tested (of this machine's processor and C library). EXTENT is
"whole" (the default), the whole suite under every interpreter; "smoke", the
table's smoke subset; or "ends", the whole suite under the oldest and the
newest and the smoke subset under those between: one abi3 library serves them
all, and the ends are where the interpreter's interface differs most.

The wheel is installed as a user would, from the file alone: pip install
--no-index --only-binary :all:; then the test extras come from the package
index. Nothing is built for any interpreter. The suite runs from this
checkout with MORVANE_DIST set, so the artifact tests run too and check that
the module under test is the wheel's library.

Interpreters: the default python3 first, then /usr/bin/python3.N and pyenv's
versions; one per minor version. Prints the versions found and a table of the
results; exits non-zero if any version fails, or if none is found.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import time

import interpreters
import targets

ROOT = pathlib.Path(__file__).resolve().parents[1]
WORK = ROOT / "build" / "wheel-venvs"
def run(cmd, **kwargs):
    print("+", " ".join(map(str, cmd)), flush=True)
    subprocess.run(cmd, check=True, **kwargs)


def test_in_fresh_venv(exe, wheel, dist, pytest_args, whole):
    """Runs the suite (or, not `whole`, a subset that needs pytest and
    hypothesis alone) under `exe`; returns (pytest's exit status, its closing line)."""
    venv = WORK / pathlib.Path(exe).resolve().name
    shutil.rmtree(venv, ignore_errors=True)
    run([exe, "-m", "venv", str(venv)])
    python = str(venv / "bin" / "python")
    run([python, "-m", "pip", "install", "-q", "--no-index", "--only-binary", ":all:", str(wheel)])
    run([python, "-m", "pip", "install", "-q", "--only-binary", ":all:",
         *([f"{wheel}[test]"] if whole else ["pytest", "hypothesis"])])
    # As in an activated environment: the test extras' tools (cmake, ninja, mypy) come first.
    env = dict(os.environ, MORVANE_DIST=str(dist), PATH=f"{venv / 'bin'}{os.pathsep}{os.environ.get('PATH', '')}")
    env.pop("PYTHONPATH", None)
    cmd = [python, "-m", "pytest", "-q", "-rsx", "-p", "no:cacheprovider", *pytest_args]
    print("+", " ".join(cmd), flush=True)
    proc = subprocess.Popen(cmd, cwd=ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    last = ""
    for line in proc.stdout:
        sys.stdout.write(line)
        if line.strip():
            last = line.strip()
    return proc.wait(), last


def count(closing, word):
    found = re.search(rf"(\d+) {word}", closing)
    return int(found[1]) if found else 0


def main():
    if len(sys.argv) not in (3, 4) or sys.argv[3:] not in ([], ["whole"], ["smoke"], ["ends"]):
        sys.exit(__doc__)
    dist = pathlib.Path(sys.argv[1]).resolve()
    extent = sys.argv[3] if len(sys.argv) == 4 else "whole"
    row = next((r for r in targets.rows() if r["triple"] == sys.argv[2]), None)
    if row is None or row["wheel"] == "-":
        sys.exit(f"no target with a wheel named {sys.argv[2]} in {targets.TABLE}")
    wheels = sorted(dist.glob(f"morvane_core-*[-.]{row['wheel']}.whl"))
    if len(wheels) != 1:
        sys.exit(f"want one {row['wheel']} wheel in {dist}, found {[w.name for w in wheels]}: "
                 "run scripts/build_release.sh")
    found = interpreters.cpythons()
    if not found:
        sys.exit("no CPython 3.9 or later found")
    print("testing", wheels[0].name, "under CPython", ", ".join(v for _, v in found.values()), flush=True)

    smoke = targets.line("smoke-tests")
    ends = {min(found), max(found)}
    rows = []
    for minor, (exe, full) in found.items():
        whole = extent == "whole" or (extent == "ends" and minor in ends)
        # The whole suite on every processor; the smoke subset is over in seconds.
        pytest_args = ["-n", "auto", "--dist", "loadscope"] if whole else smoke
        print(f"\n=== CPython {full} ({exe}){'' if whole else ', smoke subset'}", flush=True)
        start = time.monotonic()
        try:
            status, closing = test_in_fresh_venv(exe, wheels[0], dist, pytest_args, whole)
        except subprocess.CalledProcessError as e:
            status, closing = 1, f"setup failed: {' '.join(map(str, e.cmd))}"
        rows.append((full, exe, status, closing, time.monotonic() - start))

    print("\n| CPython | interpreter | result | passed | skipped | expected failures | failed | minutes |")
    print("|---|---|---|---:|---:|---:|---:|---:|")
    for full, exe, status, closing, seconds in rows:
        failed = count(closing, "failed") + count(closing, "errors?")
        result = "pass" if status == 0 else "FAIL"
        counts = " | ".join(str(count(closing, word)) for word in ("passed", "skipped", "xfailed"))
        print(f"| {full} | {exe} | {result} | {counts} | {failed} | {seconds / 60:.1f} |")
    bad = [full for full, _, status, _, _ in rows if status != 0]
    if bad:
        sys.exit(f"failed under CPython {', '.join(bad)}")


if __name__ == "__main__":
    main()
