"""resolve_version over 10,000 versions, side by side with pure-Python
semantic-versioning libraries doing the same selection.

    python bench/bench_version.py [--json]

Each peer is given the version texts and a range in its closest syntax, and
must parse the texts, skip invalid ones, keep the satisfying ones and return
the highest, as resolve_version does. A peer that is not installed is
skipped. The floor is a plain max() over the versions already parsed into
tuples: the cost of looking at 10,000 Python objects once. With
MORVANE_BASELINE set (see common.baseline), another build is timed as well.
"""

import random
import time

import common
from morvane_core import resolve_version

BASELINE = common.baseline()

# (our range, npm-style range for node-semver and NpmSpec, match expressions
# for python-semver with the major.minor.patch cores whose pre-releases the
# range admits)
RANGES = [
    ("^7.2", "^7.2", ([">=7.2.0", "<8.0.0"], set())),
    (">=7.2.0, <12.0.0", ">=7.2.0 <12.0.0", ([">=7.2.0", "<12.0.0"], set())),
    (">=7.2.0, <12.0.0, ~9.4", ">=7.2.0 <12.0.0 ~9.4", ([">=7.2.0", "<12.0.0", ">=9.4.0", "<9.5.0"], set())),
    (
        ">=7.2.0, <12.0.0, ^9.4.0-0, <=9.4.30-rc.2",
        ">=7.2.0 <12.0.0 ^9.4.0-0 <=9.4.30-rc.2",
        ([">=7.2.0", "<12.0.0", ">=9.4.0-0", "<10.0.0", "<=9.4.30-rc.2"], {(9, 4, 0), (9, 4, 30)}),
    ),
]


def make_versions(count, seed=20240607):
    """A release history: mostly plain releases, some pre-releases leading up
    to them, some build metadata, and a few invalid texts from sloppy
    publishers, shuffled the way a registry lists them."""
    rng = random.Random(seed)
    out = []
    while len(out) < count:
        core = f"{rng.randrange(16)}.{rng.randrange(12)}.{rng.randrange(40)}"
        kind = rng.random()
        if kind < 0.70:
            out.append(core)
        elif kind < 0.85:
            tag = rng.choice(["alpha", "beta", "rc"])
            out.append(f"{core}-{tag}.{rng.randrange(12)}")
        elif kind < 0.97:
            meta = rng.choice([f"build.{rng.randrange(1000)}", f"{rng.getrandbits(28):07x}", "linux.x86-64"])
            out.append(f"{core}+{meta}")
        else:
            out.append(rng.choice([f"v{core}", core.rsplit(".", 1)[0], f"{core}-", f"0{core}"]))
    return out


def best_time(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def core_key(text):
    core = text.split("+", 1)[0].split("-", 1)[0]
    return tuple(int(x) for x in core.split("."))


def peers():
    found = {}
    try:
        import nodesemver

        def node_select(versions, row):
            wanted = nodesemver.make_range(row[1], loose=False)
            best = None
            for text in versions:
                try:
                    v = nodesemver.make_semver(text, loose=False)
                except ValueError:
                    continue
                if wanted.test(v) and (best is None or v.compare(best) > 0):
                    best = v
            return None if best is None else best.raw

        found["node-semver"] = node_select
    except ImportError:
        pass
    try:
        import semantic_version

        def npm_select(versions, row):
            wanted = semantic_version.NpmSpec(row[1])
            parsed = []
            for text in versions:
                try:
                    parsed.append(semantic_version.Version(text))
                except ValueError:
                    pass
            chosen = wanted.select(parsed)
            return None if chosen is None else str(chosen)

        found["semantic_version"] = npm_select
    except ImportError:
        pass
    try:
        import semver

        def semver_match(versions, row):
            exprs, named = row[2]
            best = None
            for text in versions:
                try:
                    v = semver.Version.parse(text)
                except ValueError:
                    continue
                if v.prerelease and (v.major, v.minor, v.patch) not in named:
                    continue
                if all(v.match(e) for e in exprs) and (best is None or v > best):
                    best = v
            return None if best is None else str(best)

        found["semver"] = semver_match
    except ImportError:
        pass
    return found


def run(count=10_000):
    versions = make_versions(count)
    parsed = [core_key(t) for t in versions if t[0].isdigit() and t.count(".") >= 2 and not t.endswith("-")]
    found = peers()
    best_time(lambda: resolve_version(versions, "*"), 200)  # warm-up
    rows = []
    for row in RANGES:
        ours_range = row[0]
        ours = resolve_version(versions, ours_range)
        t_ours = best_time(lambda: resolve_version(versions, ours_range), 100)
        case = f"{count:,} versions, {ours_range.count(',') + 1} comparator(s): {ours_range}"
        rows.append(common.Row("resolve_version", case, t_ours, "max() over parsed tuples (floor)",
                               best_time(lambda: max(parsed), 50)))
        if BASELINE:
            label, module = BASELINE
            rows.append(common.Row("resolve_version", case, t_ours, f"build {label}",
                                   best_time(lambda: module.resolve_version(versions, ours_range), 100)))
        timed = []
        for name, select in found.items():
            result = select(versions, row)
            mark = "" if result == ours else f" (chose {result})"
            timed.append((best_time(lambda: select(versions, row), 5), name + mark))
        # The target applies to the fastest library; the others are shown for reference.
        for i, (t, name) in enumerate(sorted(timed)):
            rows.append(common.Row("resolve_version", case, t_ours, name, t, 30 if i == 0 else None))
    return rows


if __name__ == "__main__":
    common.main(run)
