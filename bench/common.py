"""Shared helpers for the benchmark scripts: timing and the result table.

Every benchmark module exposes run() -> list[Row]; run.py gathers them all.
"""

import dataclasses
import importlib.util
import os
import timeit


@dataclasses.dataclass
class Row:
    operation: str      # what is measured, e.g. "is_path_allowed"
    case: str           # the input, e.g. "20 entries"
    ours: float         # seconds per call of morvane_core
    peer: str           # the peer's name
    theirs: float       # seconds per call of the peer
    target: float | None = None  # required ratio theirs/ours (None: shown only)
    unit: str = "s"

    @property
    def ratio(self):
        return self.theirs / self.ours if self.ours else float("inf")

    @property
    def met(self):
        return None if self.target is None else self.ratio >= self.target


def baseline():
    """Another build of the module to time beside this one, as (label, module),
    or None.

    MORVANE_BASELINE names its library file (or the folder holding it), as
    bench/build_baseline.sh prints it; MORVANE_BASELINE_LABEL names the build
    in the table (default: the folder's name). The library loads under a
    package name of its own, so both builds live in one process.
    """
    path = os.environ.get("MORVANE_BASELINE")
    if not path:
        return None
    if os.path.isdir(path):
        path = os.path.join(path, "morvane_core.abi3.so")
    spec = importlib.util.spec_from_file_location("baseline.morvane_core", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    label = os.environ.get("MORVANE_BASELINE_LABEL") or os.path.basename(os.path.dirname(os.path.abspath(path)))
    return label, module


def per_call(fn, number=None, repeat=5, min_time=0.2):
    """Best seconds per call over `repeat` runs, each long enough to time well."""
    timer = timeit.Timer(fn)
    if number is None:
        number, _ = timer.autorange()
        while number * (timer.timeit(number) / number) < min_time and number < 10_000_000:
            number *= 2
    return min(timer.repeat(repeat=repeat, number=number)) / number


def human(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9)):
        if seconds >= scale or unit == "ns":
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds} s"


def show(value, unit):
    return human(value) if unit == "s" else f"{value:.3g} {unit}"


def print_table(rows):
    header = ("operation", "case", "morvane_core", "peer", "peer time", "ratio", "target")
    lines = [header]
    for r in rows:
        target = "" if r.target is None else f"≥{r.target:.3g}x {'met' if r.met else 'MISSED'}"
        lines.append((r.operation, r.case, show(r.ours, r.unit), r.peer, show(r.theirs, r.unit), f"{r.ratio:.2f}x",
                      target))
    widths = [max(len(str(line[i])) for line in lines) for i in range(len(header))]
    for i, line in enumerate(lines):
        print("  ".join(str(c).ljust(w) for c, w in zip(line, widths)).rstrip())
        if i == 0:
            print("  ".join("-" * w for w in widths))


def main(run):
    """Entry point of a benchmark script: print the table, or JSON rows with --json."""
    import json
    import sys

    rows = run()
    if "--json" in sys.argv[1:]:
        print(json.dumps([dataclasses.asdict(r) for r in rows]))
    else:
        print_table(rows)
