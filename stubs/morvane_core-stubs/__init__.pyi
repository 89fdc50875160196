from collections.abc import Sequence
from typing import final

__all__ = [
    "Permissions",
    "PermissionViolation",
    "check_permission_budget",
    "collect_permission_violations",
    "is_domain_allowed",
    "is_path_allowed",
    "verify_integrity",
    "extract_tarball",
    "resolve_version",
    "read_lockfile",
    "write_lockfile",
]

@final
class Permissions:
    """A permission set: what a skill requests, or what a project's budget allows."""

    def __new__(
        cls,
        network_outbound: Sequence[str] | None = None,
        fs_read: Sequence[str] | None = None,
        fs_write: Sequence[str] | None = None,
        subprocess: bool | None = None,
    ) -> Permissions: ...
    @property
    def network_outbound(self) -> list[str] | None: ...
    @property
    def filesystem_read(self) -> list[str] | None: ...
    @property
    def filesystem_write(self) -> list[str] | None: ...
    @property
    def subprocess(self) -> bool | None: ...

@final
class PermissionViolation:
    """One requested permission that a budget does not cover; created only by the module."""

    @property
    def skill_name(self) -> str: ...
    @property
    def violation_type(self) -> str: ...
    @property
    def requested(self) -> str: ...

def check_permission_budget(budget: Permissions, skill_perms: Permissions, skill_name: str) -> None:
    """Raises PermissionError naming the first permission the budget does not cover."""

def collect_permission_violations(
    budget: Permissions, skill_perms: Permissions, skill_name: str
) -> list[PermissionViolation]:
    """Every permission the budget does not cover, in a fixed order."""

def is_domain_allowed(domain: str, allowed_domains: Sequence[str]) -> bool: ...
def is_path_allowed(requested_path: str, allowed_paths: Sequence[str]) -> bool: ...
def verify_integrity(data: bytes, expected_integrity: str) -> str:
    """Returns the "sha512-..." string of data when it equals expected_integrity; else ValueError."""

def extract_tarball(data: bytes, dest: str) -> list[str]:
    """Unpacks a .tar.gz held in memory below dest; returns the files written. OSError on refusal."""

def resolve_version(available: Sequence[str], range: str) -> str | None:
    """The highest version in available that satisfies range, or None."""

def read_lockfile(path: str) -> str:
    """The lockfile at path as normalised compact JSON; OSError on any failure."""

def write_lockfile(path: str, json_content: str) -> None:
    """Validates json_content as a lockfile and stores it indented; ValueError or OSError."""
