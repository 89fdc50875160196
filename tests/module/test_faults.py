"""Internal faults: native exceptions become PanicException or MemoryError, never a crash.

No input reaches a fault in a correct build, so these tests build the module
once more with a private probe function that throws on request.
"""

import json
import os
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="module")
def probe_build(tmp_path_factory, cmake_tools):
    build = tmp_path_factory.mktemp("probe-build")
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), *cmake_tools, "-DCMAKE_BUILD_TYPE=Release",
                    "-DMORVANE_FAULT_PROBE=ON"], check=True, capture_output=True)
    subprocess.run(["cmake", "--build", str(build), "-j", str(os.cpu_count() or 2)], check=True, capture_output=True)
    library = build / "morvane_core.abi3.so"
    assert library.exists()
    return build


SCRIPT = r"""
import json, sys
sys.path.insert(0, sys.argv[1])
import morvane_core as m
out = {}
for what in sys.argv[2:]:
    try:
        m._fault_probe(what)
    except BaseException as e:
        cls = type(e)
        out[what] = [cls.__module__ + "." + cls.__qualname__, [c.__name__ for c in cls.__mro__], list(e.args),
                     cls.__doc__ or ""]
print(json.dumps(out))
"""


def run_probe(build, *whats):
    run = subprocess.run([sys.executable, "-c", SCRIPT, str(build), *whats], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    return json.loads(run.stdout)


def test_escaped_exceptions_become_panics_or_memory_errors(probe_build):
    out = run_probe(probe_build, "broken invariant", "bad_alloc", "unknown")
    name, mro, args, doc = out["broken invariant"]
    assert name == "morvane_core.panic.PanicException"
    assert mro == ["PanicException", "BaseException", "object"]
    assert args == ["broken invariant"]
    assert "BaseException" in doc
    assert out["bad_alloc"][0] == "builtins.MemoryError"
    assert out["unknown"][0] == "morvane_core.panic.PanicException"
    assert out["unknown"][2] == ["native code failed with an exception of unknown type"]


def test_panic_class_is_created_once_and_not_importable(probe_build):
    script = SCRIPT + r"""
first = second = None
for i in range(2):
    try:
        m._fault_probe("x")
    except BaseException as e:
        first, second = second, type(e)
assert first is second, (first, second)
try:
    import morvane_core.panic
except ImportError:
    print("not importable")
"""
    run = subprocess.run([sys.executable, "-c", script, str(probe_build)], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[-1] == "not importable"


def test_probe_is_absent_from_the_normal_build():
    import morvane_core

    assert not hasattr(morvane_core, "_fault_probe")
