"""Runs every benchmark, each in its own process, and writes RESULTS.md and ratios.png.

    python bench/run.py            # all benchmarks
    python bench/run.py budget     # only the scripts whose name contains "budget"

Each bench_*.py script prints its rows as JSON with --json; this script gathers
them into one table of each operation against its peers, with the ratio (peer
time divided by ours: above 1 means morvane_core is faster) and the target.
"""

import dataclasses
import datetime
import json
import os
import pathlib
import platform
import re
import subprocess
import sys

import common

HERE = pathlib.Path(__file__).resolve().parent


def scripts(filters):
    found = sorted(HERE.glob("bench_*.py"))
    return [s for s in found if not filters or any(f in s.stem for f in filters)]


def collect(filters):
    rows, failures = [], []
    for script in scripts(filters):
        print(f"running {script.name} ...", file=sys.stderr, flush=True)
        run = subprocess.run([sys.executable, str(script), "--json"], capture_output=True, text=True, cwd=HERE)
        if run.returncode != 0:
            failures.append((script.name, run.stderr.strip().splitlines()[-1:] or ["failed"]))
            continue
        rows += [common.Row(**r) for r in json.loads(run.stdout.strip().splitlines()[-1])]
    return rows, failures


def inflater_of(module):
    """The inflater a build of the module has, from the record in its library's bytes (builds
    before that record named it as an attribute, and the earliest had zlib only)."""
    found = re.search(rb"morvane_core inflater: ([^\0]*)\0", pathlib.Path(module.__file__).read_bytes())
    return found[1].decode() if found else getattr(module, "_inflater", "zlib")


def inflater():
    import morvane_core
    text = inflater_of(morvane_core)
    baseline = common.baseline()
    if baseline:
        label, module = baseline
        text += f" (build {label}: {inflater_of(module)})"
    return text


def markdown(rows, failures):
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "?")
    out = [
        "# Benchmark results",
        "",
        f"Written by `bench/run.py` on {datetime.date.today()}: Python {platform.python_version()}, "
        f"{os.cpu_count()} CPUs ({cpu}); the module inflates with {inflater()}. Ratio = peer time / "
        "morvane_core time, so above 1 means morvane_core is faster; for the rows whose unit is not "
        "seconds, see the case text.",
        "",
        "![ratios](ratios.png)",
        "",
        "| operation | case | morvane_core | peer | peer | ratio | target |",
        "|---|---|---|---|---|---|---|",
    ]
    for r in rows:
        ours, theirs = common.show(r.ours, r.unit), common.show(r.theirs, r.unit)
        target = "" if r.target is None else f"≥ {r.target:.3g}x {'✅' if r.met else '❌'}"
        out.append(f"| {r.operation} | {r.case} | {ours} | {r.peer} | {theirs} | {r.ratio:.2f}x | {target} |")
    for name, why in failures:
        out.append(f"\n{name} failed: {' '.join(why)}")
    return "\n".join(out) + "\n"


def chart(rows, path):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no chart", file=sys.stderr)
        return False
    def short(text, n):
        return text if len(text) <= n else text[: n - 1] + "…"

    labels = [f"{r.operation} · {short(r.case, 48)} vs {short(r.peer, 34)}" for r in rows]
    ratios = [r.ratio for r in rows]
    fig, ax = plt.subplots(figsize=(13, 0.34 * len(rows) + 1.5))
    colors = ["tab:green" if r.met or (r.target is None and r.ratio >= 1) else
              ("tab:red" if r.met is False else "tab:gray") for r in rows]
    y = range(len(rows))
    ax.barh(y, ratios, color=colors)
    for i, r in enumerate(rows):
        if r.target is not None:
            ax.plot([r.target, r.target], [i - 0.4, i + 0.4], color="black", linewidth=2)
    ax.set_yticks(list(y), labels, fontsize=7)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.axvline(1, color="gray", linestyle=":")
    ax.set_xlabel("peer time / morvane_core time (log scale; black tick = target)")
    ax.set_title("morvane_core against its peers")
    fig.tight_layout()
    fig.savefig(path, dpi=110, bbox_inches="tight")
    return True


def main():
    rows, failures = collect(sys.argv[1:])
    common.print_table(rows)
    (HERE / "RESULTS.md").write_text(markdown(rows, failures))
    chart(rows, HERE / "ratios.png")
    for name, why in failures:
        print(f"{name} failed: {' '.join(why)}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
