"""Speed and memory of read_lockfile and write_lockfile on a generated lockfile.

Run from the worktree root after installing the module (and orjson, optional):

    python bench/bench_lockfile.py [--skills 10000] [--repeat 15]

Peers, in the same run and on the same file:
  read:  the standard library doing the same work (json.load, a schema check
         that rebuilds the normalised document, json.dumps compact with sorted
         skills) and orjson.loads + orjson.dumps (which check nothing);
  write: json.dumps(indent=2) plus writing the file, the same preceded by
         json.loads and the schema check (what write_lockfile also does), and
         orjson.loads + orjson.dumps(OPT_INDENT_2) plus writing the file (no
         check, no fsync), also without the loads.
Memory: peak resident growth of one read_lockfile call in a fresh process,
against the file size. With MORVANE_BASELINE set (see common.baseline), an
earlier build is timed beside this one, round by round, as one more contender.
"""

import gc
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

import common
import morvane_core

try:
    import orjson
except ImportError:  # the orjson row is left out
    orjson = None

BASELINE = common.baseline()


def generate(n_skills, seed=7):
    rng = random.Random(seed)
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
    skills = {}
    for i in range(n_skills):
        name = f"skill-{i:05d}"
        skills[name] = {
            "resolved": f"{rng.randrange(10)}.{rng.randrange(30)}.{rng.randrange(100)}",
            "integrity": "sha512-" + "".join(rng.choice(alphabet) for _ in range(86)) + "==",
            "permissions": {
                "network": {"outbound": [f"api.{name}.example.com", "cdn.example.org"]},
                "filesystem": {"read": ["./data/**", f"/tmp/{name}/**"], "write": ["./out/**"]},
                "subprocess": rng.random() < 0.5,
            },
            "audit_score": round(rng.uniform(0, 100), 2),
            "dependencies": {
                f"dep-{rng.randrange(n_skills):05d}": f"^{rng.randrange(5)}.{rng.randrange(20)}.0" for _ in range(5)
            },
        }
    # Skills in shuffled order, so that reading has to sort them.
    names = list(skills)
    rng.shuffle(names)
    return {"lockfileVersion": 1, "skills": {k: skills[k] for k in names}}


# The standard-library peer: the same checks and normalisation in Python.
class SchemaError(ValueError):
    pass


def _text(v):
    if not isinstance(v, str):
        raise SchemaError("expected a string")
    return v


def _text_list(v):
    if v is None:
        return None
    if not isinstance(v, list) or not all(isinstance(x, str) for x in v):
        raise SchemaError("expected a sequence of strings")
    return v


def _record(v, fields, required, name):
    if isinstance(v, list):
        if len(v) > len(fields) or len(v) < required:
            raise SchemaError(f"invalid length for {name}")
        return dict(zip(fields, v))
    if not isinstance(v, dict):
        raise SchemaError(f"expected {name}")
    return v


def _permissions(v):
    v = _record(v, ("network", "filesystem", "subprocess"), 3, "Permissions")
    net = v.get("network")
    if net is not None:
        net = _record(net, ("outbound",), 1, "NetworkPermissions")
        net = {"outbound": _text_list(net.get("outbound"))}
    fs = v.get("filesystem")
    if fs is not None:
        fs = _record(fs, ("read", "write"), 2, "FilesystemPermissions")
        fs = {"read": _text_list(fs.get("read")), "write": _text_list(fs.get("write"))}
    sub = v.get("subprocess")
    if sub is not None and not isinstance(sub, bool):
        raise SchemaError("expected a boolean")
    return {"network": net, "filesystem": fs, "subprocess": sub}


def _entry(v):
    v = _record(v, ("resolved", "integrity", "permissions", "audit_score", "dependencies"), 4, "LockEntry")
    for key in ("resolved", "integrity", "permissions"):
        if key not in v:
            raise SchemaError(f"missing field {key}")
    score = v.get("audit_score")
    if score is not None and (isinstance(score, bool) or not isinstance(score, (int, float))):
        raise SchemaError("expected f64")
    deps = v.get("dependencies", {})
    if not isinstance(deps, dict) or not all(isinstance(x, str) for x in deps.values()):
        raise SchemaError("expected a map of strings")
    return {
        "resolved": _text(v["resolved"]),
        "integrity": _text(v["integrity"]),
        "permissions": _permissions(v["permissions"]),
        "audit_score": None if score is None else float(score),
        "dependencies": dict(sorted(deps.items())),
    }


def stdlib_check(doc):
    doc = _record(doc, ("lockfileVersion", "skills"), 2, "Lockfile")
    version = doc.get("lockfileVersion")
    if isinstance(version, bool) or not isinstance(version, int) or not 0 <= version <= 0xFFFFFFFF:
        raise SchemaError("expected u32")
    skills = doc.get("skills")
    if not isinstance(skills, dict):
        raise SchemaError("expected a map")
    return {"lockfileVersion": version, "skills": {k: _entry(skills[k]) for k in sorted(skills)}}


def stdlib_read(path):
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    return json.dumps(stdlib_check(doc), separators=(",", ":"), ensure_ascii=False)


def orjson_read(path):
    with open(path, "rb") as f:
        return orjson.dumps(orjson.loads(f.read()))


def orjson_write(path, doc):
    with open(path, "wb") as f:
        f.write(orjson.dumps(doc, option=orjson.OPT_INDENT_2) + b"\n")


def orjson_write_text(path, text):
    orjson_write(path, orjson.loads(text))


def stdlib_write_plain(path, doc):
    with open(path, "w", encoding="utf-8") as f:
        f.write(json.dumps(doc, indent=2, ensure_ascii=False) + "\n")


def stdlib_write_checked(path, text):
    doc = stdlib_check(json.loads(text))
    with open(path, "w", encoding="utf-8") as f:
        f.write(json.dumps(doc, indent=2, ensure_ascii=False) + "\n")


def interleaved(fns, repeat):
    """Median seconds of each of `fns`, run in turn in every round (the order
    rotating), so that all of them see the same state of the machine. The
    file system is synced before each call: a writer that syncs its file must
    not pay for the data another left unwritten (on ext4 the journal commit
    of one fsync takes every file's pending data along)."""
    times = [[] for _ in fns]
    for i in range(repeat):
        for k in range(len(fns)):
            j = (i + k) % len(fns)
            os.sync()
            t0 = time.perf_counter()
            fns[j]()
            times[j].append(time.perf_counter() - t0)
    return [statistics.median(t) for t in times]


def timed(fn, repeat):
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times), min(times)


PEAK_SCRIPT = r"""
import sys
def status(field):
    with open('/proc/self/status') as f:
        for line in f:
            if line.startswith(field + ':'):
                return int(line.split()[1]) * 1024
kind, path = sys.argv[1], sys.argv[2]
if kind == 'morvane':
    import morvane_core
    fn = lambda: morvane_core.read_lockfile(path)
elif kind == 'baseline':
    sys.path.insert(0, sys.argv[3])
    import common
    module = common.baseline()[1]
    fn = lambda: module.read_lockfile(path)
elif kind == 'orjson':
    import orjson
    def fn():
        with open(path, 'rb') as f:
            return orjson.dumps(orjson.loads(f.read()))
else:
    sys.path.insert(0, sys.argv[3])
    import bench_lockfile
    fn = lambda: bench_lockfile.stdlib_read(path)
# Writing 5 to clear_refs resets the peak (VmHWM) to the present size.
with open('/proc/self/clear_refs', 'w') as f:
    f.write('5')
before = status('VmRSS')
result = fn()
print(status('VmHWM') - before)
"""


def peak_growth(kind, path):
    out = subprocess.run(
        [sys.executable, "-c", PEAK_SCRIPT, kind, path, os.path.dirname(os.path.abspath(__file__))],
        check=True, capture_output=True, text=True,
    )
    return int(out.stdout)


def run(skills=10_000, repeat=15):
    doc = generate(skills)
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "skills.lock")
        out_path = os.path.join(tmp, "out.lock")
        stdlib_write_plain(path, doc)
        size = os.path.getsize(path)
        text = open(path, encoding="utf-8").read()
        # The generated document stays alive for the writers; kept out of the
        # collector's way, it does not slow down the peers that make objects.
        gc.collect()
        gc.freeze()

        # The readers agree on the content.
        assert json.loads(morvane_core.read_lockfile(path)) == json.loads(stdlib_read(path))
        case = f"{skills:,} skills, {size / 1e6:.1f} MB"
        few = max(3, repeat // 3)

        # The fast peers run in the same rounds as this build, so that a busy
        # machine weighs on all of them alike.
        readers = [lambda: morvane_core.read_lockfile(path)]
        if BASELINE:
            readers.append(lambda: BASELINE[1].read_lockfile(path))
        if orjson is not None:
            readers.append(lambda: orjson_read(path))
        read_ours, *read_peers = interleaved(readers, repeat)
        if BASELINE:
            rows.append(common.Row("read_lockfile", case, read_ours, f"build {BASELINE[0]}", read_peers.pop(0)))
        rows.append(common.Row("read_lockfile", case, read_ours, "json.load + check + json.dumps",
                               timed(lambda: stdlib_read(path), few)[0], 3))
        if orjson is not None:
            rows.append(common.Row("read_lockfile", case, read_ours, "orjson.loads + orjson.dumps (no check)",
                                   read_peers.pop(0), 3))

        writers = [lambda: morvane_core.write_lockfile(out_path, text)]
        if BASELINE:
            writers.append(lambda: BASELINE[1].write_lockfile(out_path, text))
        if orjson is not None:
            writers += [lambda: orjson_write_text(out_path, text), lambda: orjson_write(out_path, doc)]
        write_ours, *write_peers = interleaved(writers, repeat)
        if BASELINE:
            rows.append(common.Row("write_lockfile (atomic, fsync)", case, write_ours, f"build {BASELINE[0]}",
                                   write_peers.pop(0)))
        if orjson is not None:
            # From the same text as write_lockfile, and, shown only, from a
            # document already parsed.
            rows.append(common.Row("write_lockfile (atomic, fsync)", case, write_ours,
                                   "orjson.loads + dumps(OPT_INDENT_2) + write (no check, no fsync)",
                                   write_peers.pop(0), 1.3))
            rows.append(common.Row("write_lockfile (atomic, fsync)", case, write_ours,
                                   "orjson.dumps(OPT_INDENT_2) + write of a parsed document", write_peers.pop(0)))
        rows.append(common.Row("write_lockfile (atomic, fsync)", case, write_ours, "json.dumps(indent=2) + write",
                               timed(lambda: stdlib_write_plain(out_path, doc), few)[0], 3))
        rows.append(common.Row("write_lockfile (atomic, fsync)", case, write_ours,
                               "json.loads + check + dumps(indent=2) + write",
                               timed(lambda: stdlib_write_checked(out_path, text), few)[0]))

        # Peak memory of one read in a fresh process, as a multiple of the file size.
        ours = peak_growth("morvane", path) / size
        rows.append(common.Row("read_lockfile peak memory", case, ours, "limit: 2.7x file size", 2.7, 1,
                               unit="x file size"))
        for kind in (["baseline"] if BASELINE else []) + ["stdlib"] + (["orjson"] if orjson is not None else []):
            peer = f"build {BASELINE[0]}" if kind == "baseline" else kind
            rows.append(common.Row("read_lockfile peak memory", case, ours, peer, peak_growth(kind, path) / size,
                                   unit="x file size"))
    return rows


if __name__ == "__main__":
    common.main(run)
