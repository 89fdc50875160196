"""Two builds of the module, each in its own interpreter, on the same inputs in one run:
the musllinux wheel in a musl CPython beside the manylinux wheel in a glibc CPython,
say, on the extraction and lockfile rows.

    python bench/compare_builds.py PYTHON_A PYTHON_B [--rounds N]

Each PYTHON names an interpreter that imports morvane_core (a virtual
environment's bin/python). The inputs are made once, here: the npm-like package
of 2,000 files, the package of one 50 MiB file, and the lockfile of 10,000
skills of bench_archive.py and bench_lockfile.py. Each round runs every row once
in each interpreter, taking turns which goes first; each figure is the median
over the rounds of one call's time inside the child, so interpreter start-up is
left out: the first call in the process, and the fastest of three, whose memory
the C library's allocator may keep from the call before (glibc's does for large
blocks, musl's gives them back at once). Beside each figure, the page faults of
that call (for the best of three, the fewest of the second and third calls):
memory the call had to have mapped in afresh. Then, per row, the memory of the
three calls (read from Linux's /proc): the peak of resident memory above what it
was before them, this script's reading of its input included, the same for A
and B; and what stays resident a second after the last call returns, which is
memory the process's allocators hold on to. Prints a table with B's time over
A's, and one of the memory figures.
"""

import json
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile

import bench_archive
import bench_lockfile

# Runs one row three times in the interpreter under test and prints the first call's time and the
# fastest, in seconds, then the first call's page faults and the fewest of the later calls', then
# the peak of resident memory over the calls and what is resident a second after them, in KiB.
CHILD = r"""
import os, resource, shutil, sys, time
import morvane_core
row, path, work = sys.argv[1:4]
def resident(field):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(field + ":"))
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # the peak (VmHWM) starts again from the present size
before = resident("VmRSS")
times, faults = [], []
data = text = None
for i in range(3):
    faulted = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    if row.startswith("extract"):
        data = open(path, "rb").read()
        dest = os.path.join(work, f"dest-{i}")
        start = time.perf_counter()
        morvane_core.extract_tarball(data, dest)
        took = time.perf_counter() - start
        shutil.rmtree(dest)
    elif row == "read_lockfile":
        start = time.perf_counter()
        morvane_core.read_lockfile(path)
        took = time.perf_counter() - start
    else:
        text = open(path).read()
        start = time.perf_counter()
        morvane_core.write_lockfile(os.path.join(work, "written.lock"), text)
        took = time.perf_counter() - start
    times.append(took)
    faults.append(resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faulted)
peak = resident("VmHWM") - before
data = text = None  # this script's own inputs are not the calls' memory
time.sleep(1)
print(times[0], min(times), faults[0], min(faults[1:]), peak, resident("VmRSS") - before)
"""


def run_row(python, row, path, work):
    out = subprocess.run([python, "-c", CHILD, row, str(path), work], capture_output=True, text=True, check=True)
    return [float(t) for t in out.stdout.split()]


def main():
    args = sys.argv[1:]
    rounds = 9
    if "--rounds" in args:
        at = args.index("--rounds")
        rounds = int(args[at + 1])
        del args[at:at + 2]
    if len(args) != 2:
        sys.exit(__doc__)
    pythons = args
    work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    try:
        folder = pathlib.Path(work)
        inputs = {
            "extract 2,000 files": bench_archive.npm_like_package(),
            "extract one 50 MiB file": bench_archive.large_file_package(),
        }
        paths = {}
        for row, data in inputs.items():
            paths[row] = folder / f"{len(paths)}.tgz"
            paths[row].write_bytes(data)
        text = json.dumps(bench_lockfile.generate(10_000))
        paths["write_lockfile"] = folder / "doc.json"
        paths["write_lockfile"].write_text(text)
        subprocess.run([pythons[0], "-c", "import morvane_core, sys; morvane_core.write_lockfile(sys.argv[1], "
                        "open(sys.argv[2]).read())", str(folder / "doc.lock"), str(paths["write_lockfile"])], check=True)
        paths["read_lockfile"] = folder / "doc.lock"

        kinds = ("first", "best of 3")
        times = {(row, kind): ([], []) for row in paths for kind in kinds}
        faults = {(row, kind): ([], []) for row in paths for kind in kinds}
        memory = {row: ([], []) for row in paths}
        for r in range(rounds):
            for row, path in paths.items():
                order = (0, 1) if r % 2 == 0 else (1, 0)
                for which in order:
                    first, best, first_faults, fewest_faults, peak, held = run_row(pythons[which], row, path, work)
                    memory[row][which].append((peak, held))
                    times[row, "first"][which].append(first)
                    times[row, "best of 3"][which].append(best)
                    faults[row, "first"][which].append(first_faults)
                    faults[row, "best of 3"][which].append(fewest_faults)
        print(f"A: {pythons[0]}\nB: {pythons[1]}\n")
        print(f"{'row':28} {'call':10} {'A':>10} {'B':>10} {'B / A':>7} {'faults A':>9} {'faults B':>9}")
        for (row, kind), (a, b) in times.items():
            ma, mb = statistics.median(a), statistics.median(b)
            fa, fb = (statistics.median(f) for f in faults[row, kind])
            print(f"{row:28} {kind:10} {ma * 1e3:8.1f}ms {mb * 1e3:8.1f}ms {mb / ma:7.3f} {fa:9.0f} {fb:9.0f}")
        print(f"\n{'row (resident memory, MiB)':28} {'peak A':>8} {'peak B':>8} {'1 s after A':>12} {'1 s after B':>12}")
        for row, (a, b) in memory.items():
            peak_a, held_a = (statistics.median(m[i] for m in a) / 1024 for i in (0, 1))
            peak_b, held_b = (statistics.median(m[i] for m in b) / 1024 for i in (0, 1))
            print(f"{row:28} {peak_a:8.1f} {peak_b:8.1f} {held_a:12.1f} {held_b:12.1f}")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
