#!/usr/bin/env python3
"""Links the module for macOS: zig's clang compiles it, and zig links it once
to gather what the link takes from zig (libc++, libc++abi, compiler-rt and
libSystem's stubs, all built for the target), then LLVM's Mach-O linker
(ld64.lld) links the same inputs again as a bundle, as macOS extension
modules are, with the export list. zig's own Mach-O linker takes neither:
it passes over -exported_symbols_list, so libc++'s global operators new and
delete are exported beside PyInit_morvane_core, and it fails on -bundle.

    macos_link.py ZIG_CXX_COMMAND...      (CMake's link command for the module)

The command is CMake's for a module (scripts/zig/macos_rules.cmake names
this script as its launcher): the compiler driver, its flags with -bundle,
-o OUTPUT, the objects and archives. LD64_LLD names the linker (default
ld64.lld-19, then ld64.lld).
"""

import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
import targets  # noqa: E402


def linker_flags(args):
    """The -Wl,... and -Xlinker arguments, as the linker's own arguments."""
    flags, rest, i = [], [], 0
    while i < len(args):
        if args[i] == "-Xlinker":
            flags.append(args[i + 1])
            i += 2
            continue
        if args[i].startswith("-Wl,"):
            flags += args[i][4:].split(",")
        else:
            rest.append(args[i])
        i += 1
    return flags, rest


def libsystem_stubs(folder, zig_lib):
    """zig's libSystem.tbd without the targets ld64.lld does not know
    (arm64e.x1-*), in a folder of its own."""
    folder.mkdir(parents=True, exist_ok=True)
    text = (zig_lib / "libc" / "darwin" / "libSystem.tbd").read_text()
    text = re.sub(r",?\s*arm64e\.x1-(macos|maccatalyst)", "", text)
    text = re.sub(r"\[\s*,", "[", text)
    (folder / "libSystem.tbd").write_text(text)
    return folder


def main():
    command = sys.argv[1:]
    target = os.environ["MORVANE_ZIG_TARGET"]
    # Apple's name of the processor ends the row's platform (macosx-11.0-arm64).
    arch = next(row["platform"] for row in targets.rows() if row["triple"] == target).rsplit("-", 1)[1]
    linker = os.environ.get("LD64_LLD") or shutil.which("ld64.lld-19") or shutil.which("ld64.lld")
    if not linker:
        sys.exit("macos_link.py: no ld64.lld (Debian's lld-19 has it)")
    flags, rest = linker_flags(command)
    exports = flags[flags.index("-exported_symbols_list") + 1] if "-exported_symbols_list" in flags else None
    output = rest[rest.index("-o") + 1]

    # zig's link, as a dylib, printing its linker's command line.
    zig_link = [a for a in rest if a != "-bundle"] + ["-shared", "-Wl,-undefined,dynamic_lookup", "-v"]
    run = subprocess.run(zig_link, capture_output=True, text=True)
    if run.returncode != 0:
        sys.stderr.write(run.stdout + run.stderr)
        sys.exit(run.returncode)
    line = next((l for l in run.stderr.splitlines() if l.startswith("zig ld ")), None)
    if line is None:
        sys.exit("macos_link.py: zig printed no linker command line")
    zig_ld = shlex.split(line)[2:]
    zig_lib = pathlib.Path(os.environ["MORVANE_ZIG"]).resolve().parent / "lib"

    # The same inputs, linked again by ld64.lld.
    relink = [linker, "-arch", arch, "-bundle"]
    i = 0
    while i < len(zig_ld):
        a = zig_ld[i]
        if a in ("-dylib", "-dynamic"):
            pass
        elif a == "-o":
            i += 1
        elif a in ("-undefined",):
            i += 1
        else:
            relink.append(a)
        i += 1
    relink += ["-o", output, "-undefined", "dynamic_lookup", "-x", "-S",
               "-L", str(libsystem_stubs(pathlib.Path(output).parent / "macos-stubs", zig_lib))]
    if exports:
        relink += ["-exported_symbols_list", exports]
    sys.exit(subprocess.run(relink).returncode)


if __name__ == "__main__":
    main()
