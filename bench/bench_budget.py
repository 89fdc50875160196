"""collect_permission_violations against a plain-Python version of the same walk,
and its peak memory for a long skill name with many violations (with
MORVANE_BASELINE set, also for an earlier build; see common.baseline)."""

import os
import subprocess
import sys

import os
import sys

import common
from morvane_core import Permissions, collect_permission_violations

# The plain-Python model of the allow-list rules is the one the tests check against.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "permissions"))
from allow_list_model import domain_model, path_model  # noqa: E402


def py_collect(budget, skill, name):
    out = []
    if skill["subprocess"] is True and budget["subprocess"] is not True:
        out.append((name, "subprocess", "true"))
    for kind, key, test in (("network.outbound", "network_outbound", domain_model),
                            ("filesystem.read", "fs_read", path_model),
                            ("filesystem.write", "fs_write", path_model)):
        requested = skill[key]
        if requested is None:
            continue
        allowed = budget[key] or []
        for entry in requested:
            if not test(entry, allowed):
                out.append((name, kind, entry))
    return out


# Peak memory above the starting point of one call with a 1 MiB skill name and
# 2,000 denied domains, the violations kept.
PEAK_PROBE = """
import sys
sys.path.insert(0, sys.argv[2])
import common
import morvane_core
module = common.baseline()[1] if sys.argv[1] == "baseline" else morvane_core
def status(key):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith(key + ":"))
name = "n" * (1 << 20)
budget, skill = module.Permissions(), module.Permissions(network_outbound=[f"d{i}.example" for i in range(2000)])
base = status("VmRSS")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
violations = module.collect_permission_violations(budget, skill, name)
assert len(violations) == 2000 and violations[-1].skill_name == name
print(status("VmHWM") - base)
"""


def peak_memory(which):
    here = os.path.dirname(os.path.abspath(__file__))
    out = subprocess.run([sys.executable, "-c", PEAK_PROBE, which, here], capture_output=True, text=True, check=True)
    return int(out.stdout) / (1 << 20)


def run():
    budget_lists = dict(
        network_outbound=[f"*.svc-{i}.example.org" for i in range(50)],
        fs_read=[f"/srv/read-{i}/**" for i in range(50)],
        fs_write=[f"/srv/write-{i}/**" for i in range(50)],
        subprocess=False,
    )
    # Half of the skill's requests are covered, half are violations.
    skill_lists = dict(
        network_outbound=[f"api.svc-{i}.example.org" if i % 2 else f"evil-{i}.net" for i in range(10)],
        fs_read=[f"/srv/read-{i * 5}/x" if i % 2 else f"/etc/secret-{i}" for i in range(5)],
        fs_write=[f"/srv/write-{i * 5}/y" if i % 2 else f"/tmp/out-{i}" for i in range(5)],
        subprocess=True,
    )
    budget, skill = Permissions(**budget_lists), Permissions(**skill_lists)
    ours = [(v.skill_name, v.violation_type, v.requested) for v in collect_permission_violations(budget, skill, "s")]
    assert ours == py_collect(budget_lists, skill_lists, "s") and len(ours) == 12
    rows = [common.Row("collect_permission_violations", "10 domains + 10 paths vs 50 per kind",
                       common.per_call(lambda: collect_permission_violations(budget, skill, "s")), "pure Python",
                       common.per_call(lambda: py_collect(budget_lists, skill_lists, "s")), 5)]
    case = "peak, 1 MiB skill name, 2,000 violations"
    ours = peak_memory("ours")
    rows.append(common.Row("collect_permission_violations memory", case, ours, "limit: 16 MiB", 16.0, 1, unit="MiB"))
    baseline = common.baseline()
    if baseline:
        rows.append(common.Row("collect_permission_violations memory", case, ours, f"build {baseline[0]}",
                               peak_memory("baseline"), unit="MiB"))
    return rows


if __name__ == "__main__":
    common.main(run)
