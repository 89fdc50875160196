"""The built library: what it exports, what it imports, and where it loads."""

import os
import pathlib
import shutil
import subprocess
import sys

import interpreters
import pytest
import targets

import morvane_core

LIBRARY = pathlib.Path(morvane_core.__file__)
ABI_LIST = pathlib.Path(__file__).with_name("stable_abi_3_9.txt")


@pytest.fixture(params=["installed", *(f"wheel {row['wheel']}" for row in targets.rows() if row["wheel"] != "-")])
def library(request):
    """The module under test, and the one inside each release wheel."""
    if request.param.startswith("wheel "):
        return request.getfixturevalue("release").libraries[request.param.split()[1]]
    return LIBRARY


def names(symbols):
    return {s.split("@")[0] for s in symbols}


def test_library_file_is_the_stable_abi_build():
    assert LIBRARY.name == "morvane_core.abi3.so"


def test_only_the_init_function_is_exported(library, dynamic_symbols):
    assert names(dynamic_symbols(library, "--defined-only")) == {"PyInit_morvane_core"}


def test_every_imported_python_symbol_is_in_the_3_9_stable_abi(library, dynamic_symbols):
    allowed = {line for line in ABI_LIST.read_text().splitlines() if line and not line.startswith("#")}
    imported = {s for s in names(dynamic_symbols(library, "--undefined-only")) if s.startswith(("Py", "_Py"))}
    assert imported, "the library should import the interpreter's API"
    assert sorted(imported - allowed) == []


def test_no_thread_can_be_started(library, dynamic_symbols):
    imported = names(dynamic_symbols(library, "--undefined-only"))
    starters = {"pthread_create", "thrd_create", "clone", "clone3", "fork", "vfork"}
    assert sorted(imported & starters) == []
    assert [s for s in imported if s.startswith("_ZNSt6thread")] == []  # std::thread


SMOKE = r"""
import sys
sys.path.insert(0, sys.argv[1])
import morvane_core as m
assert m.__file__.endswith("morvane_core.abi3.so"), m.__file__
assert m.is_path_allowed("src/a", ["src/**"]) is True
assert m.is_domain_allowed("example.org", ["*.example.org"]) is True
p = m.Permissions(network_outbound=["a.org"], subprocess=True)
v = m.collect_permission_violations(m.Permissions(), p, "s")
assert [(x.violation_type, x.requested) for x in v] == [("subprocess", "true"), ("network.outbound", "a.org")]
try:
    m.read_lockfile(5)
except TypeError as e:
    assert str(e) == "argument 'path': 'int' object is not an instance of 'str'", e
else:
    raise AssertionError("no TypeError")
print(sys.version_info[:2])
"""


def test_one_build_loads_in_every_interpreter():
    # Those of the running interpreter's C library and processor.
    multiarch = getattr(sys.implementation, "_multiarch", "-")
    found = {v: exe for v, (exe, _) in interpreters.cpythons([sys.executable], multiarch).items()}
    assert found, "no CPython 3.9+ found"
    # Copy the library alone into an empty folder so nothing else is importable.
    target = pathlib.Path(os.environ.get("TMPDIR", "/tmp")) / f"morvane-abi-{os.getpid()}"
    target.mkdir(exist_ok=True)
    shutil.copy2(LIBRARY, target / LIBRARY.name)
    failures = {}
    for version, exe in sorted(found.items()):
        run = subprocess.run([exe, "-I", "-c", SMOKE, str(target)], capture_output=True, text=True, timeout=60)
        if run.returncode != 0 or run.stdout.strip() != str(version):
            failures[f"{version} {exe}"] = run.stdout + run.stderr
    shutil.rmtree(target, ignore_errors=True)
    assert failures == {}
    print("loaded under", ", ".join(f"{a}.{b}" for a, b in sorted(found)))
