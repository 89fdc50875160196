#!/usr/bin/env python3
"""Install a skill from a local registry into a project, the way a package manager would.

    python examples/install_skill.py weather@^1.0 --project /tmp/demo

Steps: resolve the version range, verify the archive's integrity, check the
skill's declared permissions against the project's budget, extract the archive
and record the skill in the project's lockfile. Any failure prints one line,
exits with status 1 and leaves the project's lockfile as it was.

Built only on morvane_core and the standard library.
"""

import argparse
import json
import pathlib
import secrets
import shutil
import sys

import morvane_core

HERE = pathlib.Path(__file__).resolve().parent
LOCKFILE_NAME = "skills-lock.json"
BUDGET_NAME = "budget.json"


class InstallError(Exception):
    """A failure the user should see as one line."""


def step(message):
    print(f"==> {message}", flush=True)


def parse_request(request):
    name, sep, version_range = request.partition("@")
    if not name:
        raise InstallError(f"invalid skill request {request!r}: expected NAME or NAME@RANGE")
    return name, version_range if sep else "*"


def load_json(path, what):
    try:
        return json.loads(pathlib.Path(path).read_text(encoding="utf-8"))
    except OSError as e:
        raise InstallError(f"cannot read {what} {path}: {e.strerror or e}") from None
    except ValueError as e:
        raise InstallError(f"{what} {path} is not valid JSON: {e}") from None


def permissions_from(declared):
    return morvane_core.Permissions(
        network_outbound=declared.get("network_outbound"),
        fs_read=declared.get("fs_read"),
        fs_write=declared.get("fs_write"),
        subprocess=declared.get("subprocess"),
    )


def lock_permissions(p):
    """The lockfile's nested permissions record for a Permissions object."""
    network = None if p.network_outbound is None else {"outbound": p.network_outbound}
    filesystem = None
    if p.filesystem_read is not None or p.filesystem_write is not None:
        filesystem = {"read": p.filesystem_read, "write": p.filesystem_write}
    return {"network": network, "filesystem": filesystem, "subprocess": p.subprocess}


def resolve(index, name, version_range):
    skill = index["skills"].get(name)
    if skill is None:
        raise InstallError(f"no skill named {name!r} in the registry")
    available = list(skill["versions"])
    version = morvane_core.resolve_version(available, version_range)
    if version is None:
        raise InstallError(f"no version of {name} matches {version_range!r} (available: {', '.join(available)})")
    return version, skill["versions"][version]


def check_budget(budget, skill_perms, name):
    violations = morvane_core.collect_permission_violations(budget, skill_perms, name)
    for v in violations:
        print(f"    violation: {v.violation_type} {v.requested}")
    if violations:
        try:
            morvane_core.check_permission_budget(budget, skill_perms, name)
        except PermissionError as e:
            raise InstallError(f"{e} ({len(violations)} violation{'s' if len(violations) != 1 else ''} in all)") from None


def extract(data, project, name):
    """Extracts into a staging folder, then swaps it in for the skill's folder."""
    skills_dir = project / "skills"
    skills_dir.mkdir(parents=True, exist_ok=True)
    # A plain mkdir under a fresh name, not mkdtemp: the folder that is renamed
    # into place gets the mode any new folder gets under the umask (mkdtemp's
    # are private, 0700).
    staging = skills_dir / f".{name}-{secrets.token_hex(8)}"
    staging.mkdir()
    try:
        files = morvane_core.extract_tarball(data, str(staging))
    except OSError as e:
        shutil.rmtree(staging, ignore_errors=True)
        raise InstallError(f"refused archive: {e}") from None
    target = skills_dir / name
    if target.exists():
        shutil.rmtree(target)
    staging.rename(target)
    return files


def record(project, name, version, integrity, skill_perms):
    lockfile = project / LOCKFILE_NAME
    if lockfile.exists():
        try:
            document = json.loads(morvane_core.read_lockfile(str(lockfile)))
        except OSError as e:
            raise InstallError(f"existing lockfile {lockfile} is unreadable: {e}") from None
    else:
        document = {"lockfileVersion": 1, "skills": {}}
    document["skills"][name] = {
        "resolved": version,
        "integrity": integrity,
        "permissions": lock_permissions(skill_perms),
        "audit_score": None,
        "dependencies": {},
    }
    morvane_core.write_lockfile(str(lockfile), json.dumps(document))
    return lockfile


def install(request, project, registry, budget_path):
    name, version_range = parse_request(request)
    index = load_json(registry / "index.json", "registry index")

    step(f"resolving {name}@{version_range}")
    version, meta = resolve(index, name, version_range)
    print(f"    chose {name} {version}")

    step(f"verifying {meta['archive']}")
    try:
        data = (registry / meta["archive"]).read_bytes()
    except OSError as e:
        raise InstallError(f"cannot read archive {meta['archive']}: {e.strerror or e}") from None
    try:
        integrity = morvane_core.verify_integrity(data, meta["integrity"])
    except ValueError as e:
        raise InstallError(f"integrity check failed for {name} {version}: {e}") from None
    print(f"    {integrity[:27]}… ok")

    step(f"checking permissions against {budget_path}")
    budget = permissions_from(load_json(budget_path, "budget"))
    skill_perms = permissions_from(meta["permissions"])
    check_budget(budget, skill_perms, name)
    print("    within budget")

    step(f"extracting into {project / 'skills' / name}")
    files = extract(data, project, name)
    for f in files:
        print(f"    {f}")

    step("recording in the lockfile")
    lockfile = record(project, name, version, integrity, skill_perms)
    print(morvane_core.read_lockfile(str(lockfile)))


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Install a skill from a local registry into a project folder.",
        epilog="example: %(prog)s weather@^1.0 --project /tmp/demo")
    parser.add_argument("request", help="skill name with an optional version range, e.g. weather@^1.0 or formatter@~0.2")
    parser.add_argument("--project", type=pathlib.Path, default=pathlib.Path.cwd(),
                        help="project folder holding the lockfile and skills/ (default: current folder)")
    parser.add_argument("--registry", type=pathlib.Path, default=HERE / "registry",
                        help="registry folder with index.json and the archives (default: the sample registry)")
    parser.add_argument("--budget", type=pathlib.Path, default=None,
                        help=f"permission budget JSON (default: PROJECT/{BUDGET_NAME} if present, else the sample budget)")
    args = parser.parse_args(argv)

    project = args.project.resolve()
    budget = args.budget or (project / BUDGET_NAME if (project / BUDGET_NAME).exists() else HERE / BUDGET_NAME)
    try:
        project.mkdir(parents=True, exist_ok=True)
        install(args.request, project, args.registry, budget)
    except InstallError as e:
        # What was printed before the failure (the violations, say) comes
        # first, also where the two streams are redirected to one file.
        sys.stdout.flush()
        print(f"error: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
