#!/usr/bin/env python3
"""Checks a module library built for a target of scripts/targets.txt: it is
for the triple's processor (on macOS a bundle, naming the triple's oldest
macOS, linking nothing but the system's libraries and carrying no OpenSSL),
it exports PyInit_morvane_core alone, and it records its inflater (the one
its row names) and system calls.

    scripts/library_check.py LIBRARY TRIPLE

Reads ELF (through nm) and Mach-O (the export trie, which dyld resolves other
images' references against). Prints one line of facts, the exports and the
records; exits 1 if a check fails.
"""

import os
import re
import struct
import subprocess
import sys

import targets

EXPORT = "PyInit_morvane_core"
# The ELF header's class and byte order (EI_CLASS, EI_DATA).
ELF_CLASS = {1: "32", 2: "64"}
ELF_DATA = {1: "little", 2: "big"}
MH_MAGIC_64 = 0xFEEDFACF
MH_BUNDLE = 8
LC_DYLD_INFO_ONLY = 0x80000022
LC_DYLD_EXPORTS_TRIE = 0x80000033
LC_BUILD_VERSION = 0x32
# The load commands that name a library to link, and the libraries a macOS
# module may link: the system's C library and, where libc++ is not linked in,
# Apple's.
LC_LOAD_DYLIBS = {0xC, 0x80000018, 0x8000001F, 0x80000023}
SYSTEM_DYLIBS = {"/usr/lib/libSystem.B.dylib", "/usr/lib/libc++.1.dylib"}


def uleb128(data, pos):
    value = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, pos


def trie_symbols(data, start, size):
    """The names in an export trie: each node holds its export's data (if any)
    and edges labelled with the next part of the name."""
    names, stack = [], [(start, b"")]
    while stack:
        node, prefix = stack.pop()
        info_size, pos = uleb128(data, node)
        if info_size:
            names.append(prefix.decode())
        pos += info_size
        for _ in range(data[pos] if pos < start + size else 0):
            pos += 1
            end = data.index(b"\0", pos)
            label = data[pos:end]
            child, pos = uleb128(data, end + 1)
            pos -= 1
            stack.append((start + child, prefix + label))
        # the edge loop leaves pos on the last byte read
    return sorted(names)


def macho(data):
    """(cpu number, file type, oldest macOS, exports, linked libraries) of a
    64-bit Mach-O file; the exports with C's leading underscore taken off."""
    _, cpu, _, file_type, ncmds, _, _, _ = struct.unpack_from("<IiiIIIII", data)
    minos, exports, dylibs, offset = "?", [], [], 32
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<II", data, offset)
        if cmd in LC_LOAD_DYLIBS:
            name_at = offset + struct.unpack_from("<I", data, offset + 8)[0]
            dylibs.append(data[name_at:data.index(b"\0", name_at)].decode())
        elif cmd == LC_DYLD_INFO_ONLY:
            exports = trie_symbols(data, *struct.unpack_from("<II", data, offset + 40))
        elif cmd == LC_DYLD_EXPORTS_TRIE:
            exports = trie_symbols(data, *struct.unpack_from("<II", data, offset + 8))
        elif cmd == LC_BUILD_VERSION:
            value = struct.unpack_from("<I", data, offset + 12)[0]
            minos = f"{value >> 16}.{(value >> 8) & 0xFF}"
        offset += cmdsize
    return cpu, file_type, minos, [name.removeprefix("_") for name in exports], dylibs


def check(path, triple):
    """The facts of the library and the list of failed checks."""
    data = open(path, "rb").read()
    cpu = triple.split("-")[0]
    processor = targets.processors()[cpu]
    failures = []
    if data[:4] == b"\x7fELF":
        bits, endian = ELF_CLASS.get(data[4], "?"), ELF_DATA.get(data[5], "?")
        machine = int.from_bytes(data[18:20], endian if endian != "?" else "little")
        nm = subprocess.run(["nm", "-D", "--defined-only", path], check=True, capture_output=True, text=True)
        exports = sorted(line.split()[-1].split("@")[0] for line in nm.stdout.splitlines() if line.strip())
        facts = f"ELF, {bits}-bit, {endian}-endian, machine {machine}"
        if (machine, bits, endian) != (int(processor["elf"]), processor["bits"], processor["endian"]):
            failures.append(f"not an ELF library for {cpu}")
    elif struct.unpack_from("<I", data)[0] == MH_MAGIC_64:
        number, file_type, minos, exports, dylibs = macho(data)
        facts = f"Mach-O, cpu {number:#x}, file type {file_type}, macOS {minos} or later; links {' '.join(dylibs)}"
        oldest = triple.rsplit("macos.", 1)[-1]
        if (f"{number:#010x}", file_type, minos) != (processor["macho"].lower(), MH_BUNDLE, oldest):
            failures.append(f"not a bundle for {cpu} and macOS {oldest}")
        if not set(dylibs) <= SYSTEM_DYLIBS:
            failures.append(f"links {sorted(set(dylibs) - SYSTEM_DYLIBS)} beyond the system's libraries")
        # SHA-512 comes from the system's CommonCrypto there.
        if b"OpenSSL" in data or b"EVP_Digest" in data:
            failures.append("carries OpenSSL's libcrypto")
    else:
        return "neither ELF nor 64-bit Mach-O", ["unknown format"]
    if exports != [EXPORT]:
        failures.append(f"exports {exports}, not {EXPORT} alone")
    records = sorted(set(re.findall(rb"morvane_core ([a-z ]+: [ -~]*)\0", data)))
    if len(records) < 2:
        failures.append("no record of the inflater and system calls")
    # The inflater its row names (or MORVANE_INFLATE, as scripts/compile_targets.sh
    # takes it) reads first ("isa-l 2.32.1, zlib-ng ...").
    row = next(row for row in targets.rows() if row["triple"] == triple)
    expected = os.environ.get("MORVANE_INFLATE") or row["inflater"]
    inflater = re.search(rb"morvane_core inflater: ([a-z-]+) ", data)
    if not inflater or inflater[1].decode() != expected:
        failures.append(f"does not inflate with {expected}")
    return f"{facts}; exports {' '.join(exports)}; " + "; ".join(r.decode() for r in records), failures


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    facts, failures = check(*sys.argv[1:])
    print(f"{sys.argv[1]} ({sys.argv[2]}): {facts}")
    for failure in failures:
        print(f"  FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
