"""Package-archive benchmarks: extraction and integrity, side by side with their peers.

    python bench/bench_archive.py [--quick]

Every contender gets the same bytes in the same run:
  * an npm-like package of 2,000 files of 1 to 16 KiB in nested folders, and
    one file of 50 MiB: extract_tarball against tarfile's extractall with the
    "data" filter and against GNU tar -xzf (both dropping the top folder, as
    extract_tarball does); the large file also against gzip -dc into a file,
    the floor of decompressing and writing those bytes;
  * peak memory while extracting the 50 MiB file, above the process's memory
    with the input already loaded;
  * verify_integrity on 64 MiB against hashlib.sha512 plus base64.b64encode.

Times are the median of several runs, each into a fresh directory that is
removed outside the timing.
"""

import argparse
import base64
import gzip
import hashlib
import io
import os
import random
import shutil
import statistics
import subprocess
import sys
import tarfile
import tempfile
import textwrap
import time

import morvane_core

KiB = 1024
MiB = 1024 * KiB

IDENTIFIERS = None


def source_like(rng, size):
    """JavaScript-like text: lines from a few templates over a few hundred names.

    Such text compresses about four to one, as package sources do.
    """
    global IDENTIFIERS
    if IDENTIFIERS is None:
        irng = random.Random(1)
        syllables = ["get", "set", "value", "node", "path", "item", "list", "map", "key", "data", "opts",
                     "config", "parse", "render", "state", "props", "index", "count", "error", "result"]
        IDENTIFIERS = sorted({irng.choice(syllables) + irng.choice(syllables).title() + str(irng.randint(0, 9))
                              for _ in range(400)})
    templates = [
        "const {a} = require('./{b}');\n",
        "  if ({a} === undefined || {a} === null) {{ return {b}; }}\n",
        "function {a}({b}, {c}) {{\n  return {b}.{c}({a});\n}}\n",
        "  {a}.{b} = {c} + {n};\n",
        "module.exports.{a} = {b};\n",
        "  // {a} keeps the {b} of every {c} seen so far\n",
        "  for (let i = 0; i < {a}.length; i += {n}) {{ {b}.push({a}[i]); }}\n",
        "export default class {A} extends {B} {{\n",
    ]
    out = []
    n = 0
    while n < size:
        a, b, c = rng.choice(IDENTIFIERS), rng.choice(IDENTIFIERS), rng.choice(IDENTIFIERS)
        line = rng.choice(templates).format(a=a, b=b, c=c, A=a.title(), B=b.title(), n=rng.randint(1, 64))
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def add_tree(t, files, folders):
    """Adds folders and files depth first in name order, as tar adds a directory tree."""
    paths = [(f.split("/") if f else [], None) for f in folders] + [(n.split("/"), files[n]) for n in files]
    for parts, content in sorted(paths, key=lambda p: p[0]):
        info = tarfile.TarInfo("/".join(["package", *parts]))
        if content is None:
            info.type = tarfile.DIRTYPE
            info.mode = 0o755
            t.addfile(info)
        else:
            info.size = len(content)
            info.mode = 0o644
            t.addfile(info, io.BytesIO(content))


def npm_like_package():
    rng = random.Random(42)
    folders = ["", "lib", "lib/util", "lib/core", "lib/core/internal", "dist", "dist/esm", "dist/cjs",
               "src", "src/components", "src/components/forms", "test", "test/fixtures", "types", "docs"]
    pool = source_like(rng, 4 * MiB)
    files = {}
    for i in range(2000):
        size = rng.randint(1 * KiB, 16 * KiB)
        start = rng.randrange(0, len(pool) - size)
        folder = rng.choice(folders)
        files[f"{folder}/file{i}.js" if folder else f"file{i}.js"] = pool[start:start + size]
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w:gz", format=tarfile.PAX_FORMAT, compresslevel=9) as t:
        add_tree(t, files, folders)
    return buf.getvalue()


def large_file_package():
    rng = random.Random(7)
    content = source_like(rng, 50 * MiB)
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w:gz", format=tarfile.PAX_FORMAT, compresslevel=6) as t:
        info = tarfile.TarInfo("package/big.bin")
        info.size = len(content)
        t.addfile(info, io.BytesIO(content))
    return buf.getvalue()


def timed(fns, runs, workdir):
    """Median and best time of each of `fns` over `runs` rounds, each call into
    a fresh directory.

    The contenders take turns within each round, so that all of them meet the
    same state of a shared machine. Dirty pages are flushed before each call,
    and the directories are removed only after all rounds, so that no call pays
    for another's write-back or deletion.
    """
    times = [[] for _ in fns]
    dests = []
    for i in range(runs):
        for k, fn in enumerate(fns):
            dest = os.path.join(workdir, f"run-{len(dests)}")
            dests.append(dest)
            os.sync()
            start = time.perf_counter()
            fn(dest)
            times[k].append(time.perf_counter() - start)
    for dest in dests:
        shutil.rmtree(dest)
    os.sync()
    return [(statistics.median(t), min(t)) for t in times]


def contenders(data, archive_path):
    def ours(dest):
        morvane_core.extract_tarball(data, dest)

    def python_tarfile(dest):
        os.mkdir(dest)
        with tarfile.open(fileobj=io.BytesIO(data), mode="r:gz") as t:
            # Drop the top folder, as extract_tarball does.
            members = []
            for m in t.getmembers():
                if "/" in m.name:
                    m.name = m.name.split("/", 1)[1]
                    members.append(m)
            t.extractall(dest, members=members, filter="data")

    def gnu_tar(dest):
        os.mkdir(dest)
        subprocess.run(["tar", "-xzf", archive_path, "-C", dest, "--strip-components=1"], check=True)

    return [("extract_tarball", ours), ("tarfile extractall (data filter)", python_tarfile), ("GNU tar -xzf", gnu_tar)]


def gzip_floor(archive_path):
    def run(dest):
        os.mkdir(dest)
        with open(os.path.join(dest, "out.tar"), "wb") as out:
            subprocess.run(["gzip", "-dc", archive_path], stdout=out, check=True)
    return run


PEAK_PROBE = textwrap.dedent("""
    import sys, morvane_core
    def status(key):
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1]) * 1024
    data = open(sys.argv[1], "rb").read()
    mode = sys.argv[3]
    if mode == "tarfile":
        import io, tarfile
    base = status("VmRSS")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # the peak restarts from the current size
    if mode == "ours":
        morvane_core.extract_tarball(data, sys.argv[2])
    else:
        with tarfile.open(fileobj=io.BytesIO(data), mode="r:gz") as t:
            t.extractall(sys.argv[2], filter="data")
    print(status("VmHWM") - base)
""")


def peak_memory(archive_path, workdir, mode):
    dest = os.path.join(workdir, "peak-" + mode)
    out = subprocess.run([sys.executable, "-c", PEAK_PROBE, archive_path, dest, mode],
                         capture_output=True, text=True, check=True)
    shutil.rmtree(dest)
    return int(out.stdout.strip())


def integrity_rows(runs):
    data = random.Random(3).randbytes(64 * MiB)
    expected = "sha512-" + base64.b64encode(hashlib.sha512(data).digest()).decode()

    def ours():
        morvane_core.verify_integrity(data, expected)

    def peer():
        assert "sha512-" + base64.b64encode(hashlib.sha512(data).digest()).decode() == expected

    # Interleaved, so that both see the same state of the machine.
    times = {"verify_integrity": [], "hashlib.sha512 + base64": []}
    for _ in range(runs):
        for name, fn in [("verify_integrity", ours), ("hashlib.sha512 + base64", peer)]:
            start = time.perf_counter()
            fn()
            times[name].append(time.perf_counter() - start)
    return [(name, statistics.median(t), min(t)) for name, t in times.items()]


def extraction_table(cases, workdir, have_tar, have_gzip):
    print(f"{'case':<24} {'contender':<34} {'median s':>9} {'best s':>8} {'vs extract_tarball':>19}")
    for label, data, runs in cases:
        archive_path = os.path.join(workdir, "archive.tgz")
        with open(archive_path, "wb") as f:
            f.write(data)
        named = [(name, fn) for name, fn in contenders(data, archive_path) if have_tar or not name.startswith("GNU")]
        if label.startswith("one") and have_gzip:
            named.append(("gzip -dc > file (floor)", gzip_floor(archive_path)))
        rows = [(name, *result) for (name, _), result in zip(named, timed([fn for _, fn in named], runs, workdir))]
        os.remove(archive_path)
        ours = rows[0][1]
        for name, median, best in rows:
            if name == "extract_tarball":
                ratio = "1.00x"
            elif median >= ours:
                ratio = f"ours {median / ours:.2f}x faster"
            else:
                ratio = f"ours {ours / median:.2f}x slower"
            print(f"{label:<24} {name:<34} {median:>9.4f} {best:>8.4f} {ratio:>19}")
        print(f"{'':<24} {len(data) / MiB:.1f} MiB compressed, {len(gzip.decompress(data)) / MiB:.1f} MiB of tar")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="fewer runs")
    parser.add_argument("--dir", action="append",
                        help="where to extract (repeatable); default: the temporary directory and /dev/shm")
    args = parser.parse_args()
    runs_small, runs_large, runs_hash = (3, 2, 3) if args.quick else (9, 5, 21)
    places = args.dir or [tempfile.gettempdir()] + (["/dev/shm"] if os.path.isdir("/dev/shm") else [])

    have_tar = shutil.which("tar") is not None
    have_gzip = shutil.which("gzip") is not None
    cases = [("2,000 files, 1-16 KiB", npm_like_package(), runs_small),
             ("one 50 MiB file", large_file_package(), runs_large)]
    for place in places:
        workdir = tempfile.mkdtemp(prefix="bench-archive-", dir=place)
        try:
            fs = subprocess.run(["stat", "-f", "-c", "%T", workdir], capture_output=True, text=True).stdout.strip()
            print(f"extraction into {place} ({fs or 'unknown file system'})")
            extraction_table(cases, workdir, have_tar, have_gzip)
            print()
        finally:
            shutil.rmtree(workdir, ignore_errors=True)

    workdir = tempfile.mkdtemp(prefix="bench-archive-")
    try:
        archive_path = os.path.join(workdir, "large.tgz")
        with open(archive_path, "wb") as f:
            f.write(cases[1][1])
        print("peak memory while extracting the 50 MiB file, above the process with its input loaded")
        for mode, name in [("ours", "extract_tarball"), ("tarfile", "tarfile extractall")]:
            print(f"  {name:<24} {peak_memory(archive_path, workdir, mode) / MiB:8.2f} MiB")
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    print()
    print("integrity of 64 MiB")
    rows = integrity_rows(runs_hash)
    for name, median, best in rows:
        print(f"  {name:<26} median {median:7.4f} s ({64 / median:7.1f} MiB/s), best {best:7.4f} s")
    print(f"  throughput of verify_integrity relative to hashlib + base64: "
          f"{rows[1][1] / rows[0][1]:.2f}x by median, {rows[1][2] / rows[0][2]:.2f}x by best")


if __name__ == "__main__":
    main()
