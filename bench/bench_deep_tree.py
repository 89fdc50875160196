"""Extraction of archives whose entries sit deep below the top folder.

    python bench/bench_deep_tree.py [--json]

Three archives of 9,999 entries, each a file in a folder of its own, extracted
into a memory-backed folder so that the time is the extraction's own work:
  * deep: package/a/a/.../a/<i>/f, 1,990 levels of "a" above each folder;
  * two chains: the same, alternating between a chain of "a" and one of "b";
  * flat: package/<i>/f, as many entries and folders with no depth.
The deep variants are held to 5x the flat one: the work per entry must not
grow with the depth. With MORVANE_BASELINE set (see common.baseline), an
earlier build extracts each archive once beside this one.
"""

import io
import os
import statistics
import subprocess
import tarfile
import tempfile
import time

import common
import morvane_core

ENTRIES = 9_999
LEVELS = 1_990


def archive(paths):
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w:gz", format=tarfile.PAX_FORMAT, compresslevel=9) as t:
        for path in paths:
            info = tarfile.TarInfo(path)
            info.size = 1
            t.addfile(info, io.BytesIO(b"x"))
    return raw.getvalue()


def deep_paths(chains):
    return [f"package/{chains[i % len(chains)] * LEVELS}{i}/f" for i in range(ENTRIES)]


def remove(path):
    # shutil.rmtree recurses once per level and gives up on these trees.
    subprocess.run(["rm", "-rf", path], check=True)


def timed(extract, data, workdir, runs):
    times = []
    for i in range(runs):
        dest = os.path.join(workdir, f"run-{i}")
        start = time.perf_counter()
        extract(data, dest)
        times.append(time.perf_counter() - start)
        remove(dest)
    return statistics.median(times)


def run(runs=5):
    place = "/dev/shm" if os.path.isdir("/dev/shm") else tempfile.gettempdir()
    flat = archive(f"package/{i}/f" for i in range(ENTRIES))
    cases = [("one chain of 1,990 levels", archive(deep_paths(["a/"]))),
             ("two alternating chains of 1,990 levels", archive(deep_paths(["a/", "b/"])))]
    baseline = common.baseline()
    rows = []
    workdir = tempfile.mkdtemp(prefix="bench-deep-", dir=place)
    try:
        flat_time = timed(morvane_core.extract_tarball, flat, workdir, runs)
        for label, data in cases:
            case = f"9,999 entries, {label}, {len(data) // 1000} KB"
            ours = timed(morvane_core.extract_tarball, data, workdir, runs)
            rows.append(common.Row("extract_tarball deep tree", case, ours, "flat archive package/<i>/f, this build",
                                   flat_time, 1 / 5))
            if baseline:
                rows.append(common.Row("extract_tarball deep tree", case, ours, f"same archive, build {baseline[0]}",
                                       timed(baseline[1].extract_tarball, data, workdir, 1)))
    finally:
        remove(workdir)
    return rows


if __name__ == "__main__":
    common.main(run)
