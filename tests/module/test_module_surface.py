"""The module object: attributes, their order, documentation and re-import."""

import importlib
import inspect
import re
import sys

import pytest

import morvane_core as m

NAMES = [
    "Permissions", "PermissionViolation", "check_permission_budget", "collect_permission_violations",
    "is_domain_allowed", "is_path_allowed", "verify_integrity", "extract_tarball", "resolve_version",
    "read_lockfile", "write_lockfile",
]

SIGNATURES = {
    "read_lockfile": "(path)",
    "write_lockfile": "(path, json_content)",
    "extract_tarball": "(data, dest)",
    "resolve_version": "(available, range)",
    "verify_integrity": "(data, expected_integrity)",
    "is_path_allowed": "(requested_path, allowed_paths)",
    "is_domain_allowed": "(domain, allowed_domains)",
    "check_permission_budget": "(budget, skill_perms, skill_name)",
    "collect_permission_violations": "(budget, skill_perms, skill_name)",
}


def test_the_module_adds_the_eleven_names_and_all_and_nothing_else():
    assert m.__all__ == NAMES
    # What every extension module has from the import system.
    standard = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}
    assert set(vars(m)) - standard == {*NAMES, "__all__"}


def test_the_library_records_its_build_in_its_bytes(build_records):
    assert build_records.keys() == {"inflater", "system calls", "folder handles", "scans"}
    # "zlib-ng 2.3.3" where the build has zlib-ng, "zlib 1.2.13" otherwise,
    # after "isa-l 2.32.1, " where ISA-L reads first.
    version = r"\d+\.\d+\.\d+(\.\d+)?"
    assert re.fullmatch(rf"(isa-l {version}, )?zlib(-ng)? {version}", build_records["inflater"])
    assert build_records["system calls"] in ("linux", "portable")
    assert build_records["folder handles"] in ("search", "read")
    assert build_records["scans"] in ("sse2", "neon", "portable")


def test_module_docstring_is_present_and_empty():
    assert m.__doc__ == ""
    assert m.__name__ == "morvane_core"


@pytest.mark.parametrize("name, signature", SIGNATURES.items())
def test_functions_carry_their_signature(name, signature):
    fn = getattr(m, name)
    assert fn.__name__ == name
    assert fn.__text_signature__ == signature
    assert fn.__doc__ is None
    assert fn.__module__ == m.__name__
    assert fn.__self__ is None
    assert str(inspect.signature(fn)) == signature


def test_classes_are_builtins_named():
    for cls in (m.Permissions, m.PermissionViolation):
        assert cls.__module__ == "builtins"
        assert cls.__qualname__ == cls.__name__


@pytest.mark.xfail(sys.version_info < (3, 10), strict=True,
                   reason="CPython 3.9's PyType_FromSpec drops the signature line from a class's doc")
def test_permissions_carries_its_signature():
    assert m.Permissions.__text_signature__ == "(network_outbound=None, fs_read=None, fs_write=None, subprocess=None)"
    assert str(inspect.signature(m.Permissions)) == "(network_outbound=None, fs_read=None, fs_write=None, subprocess=None)"


def test_a_fresh_import_shares_the_classes_and_makes_new_functions():
    old = sys.modules.pop("morvane_core")
    try:
        fresh = importlib.import_module("morvane_core")
        assert fresh is not old
        assert fresh.Permissions is old.Permissions
        assert fresh.PermissionViolation is old.PermissionViolation
        assert fresh.is_path_allowed is not old.is_path_allowed
        assert fresh.__all__ == NAMES
        assert fresh.is_path_allowed("a", ["a"]) is True
        assert isinstance(fresh.Permissions(), old.Permissions)
    finally:
        sys.modules["morvane_core"] = old
