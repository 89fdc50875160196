"""Every CPython 3.9 or later on this machine, one per minor version: the
ones named first, then the default python3, /usr/bin/python3.N and pyenv's
versions (PYENV_ROOT, by default ~/.pyenv).

    import interpreters
    interpreters.cpythons()                     {(3, N): (executable, "3.N.M")}
    interpreters.cpythons([sys.executable], "x86_64-linux-gnu")

Read by scripts/test_wheel_everywhere.py and by the test that loads one build
in every interpreter.
"""

import glob
import os
import shutil
import subprocess

# Implementation, version and platform triplet (CPU-linux-gnu, CPU-linux-musl, ...).
PROBE = ("import sys, platform; print(platform.python_implementation(), *sys.version_info[:3], "
         "getattr(sys.implementation, '_multiarch', '-'))")


def cpythons(first=(), multiarch=None):
    """{(3, N): (executable, full version)}, in version order, of the first
    interpreter found for each minor version from 3.9 on; where `multiarch` is
    given, only those of that platform triplet (a musl CPython beside glibc's
    loads only libraries built for musl, and the other way round)."""
    pyenv = os.environ.get("PYENV_ROOT") or os.path.expanduser("~/.pyenv")
    candidates = [*first, shutil.which("python3")]
    candidates += sorted(glob.glob("/usr/bin/python3.[0-9]*"))
    candidates += sorted(glob.glob(os.path.join(pyenv, "versions", "3.*", "bin", "python3")))
    found = {}
    for exe in filter(None, candidates):
        if exe.endswith("-config") or not os.access(exe, os.X_OK):
            continue
        try:
            probe = subprocess.run([exe, "-c", PROBE], capture_output=True, text=True, timeout=30)
        except (OSError, subprocess.TimeoutExpired):
            continue
        parts = probe.stdout.split()
        if probe.returncode != 0 or len(parts) != 5 or parts[0] != "CPython":
            continue
        minor = (int(parts[1]), int(parts[2]))
        if minor >= (3, 9) and multiarch in (None, parts[4]):
            found.setdefault(minor, (exe, ".".join(parts[1:4])))
    return dict(sorted(found.items()))
