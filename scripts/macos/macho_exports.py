#!/usr/bin/env python3
"""What a Mach-O library offers the dynamic loader: its processor, its file
type, the oldest macOS it names, and the symbols of its export trie (the
table dyld resolves other images' references against).

    scripts/macos/macho_exports.py LIBRARY [EXPECTED_SYMBOL...]

Prints one line of facts and the exported symbols, one a line. Given
EXPECTED_SYMBOLs, exits 1 unless the exports are exactly those.
"""

import struct
import sys

MH_MAGIC_64 = 0xFEEDFACF
CPU = {0x01000007: "x86_64", 0x0100000C: "arm64"}
FILE_TYPE = {6: "dylib", 8: "bundle"}
LC_DYLD_INFO_ONLY = 0x80000022
LC_DYLD_EXPORTS_TRIE = 0x80000033
LC_BUILD_VERSION = 0x32


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


def describe(path):
    data = open(path, "rb").read()
    magic, cpu, _, file_type, ncmds, _, _, _ = struct.unpack_from("<IiiIIIII", data)
    if magic != MH_MAGIC_64:
        raise SystemExit(f"{path}: not a 64-bit Mach-O file")
    facts = {"cpu": CPU.get(cpu, hex(cpu)), "type": FILE_TYPE.get(file_type, str(file_type)), "minos": "?"}
    exports = []
    offset = 32
    for _ in range(ncmds):
        cmd, cmdsize = struct.unpack_from("<II", data, offset)
        if cmd == LC_DYLD_INFO_ONLY:
            export_off, export_size = struct.unpack_from("<II", data, offset + 40)
            exports = trie_symbols(data, export_off, export_size)
        elif cmd == LC_DYLD_EXPORTS_TRIE:
            export_off, export_size = struct.unpack_from("<II", data, offset + 8)
            exports = trie_symbols(data, export_off, export_size)
        elif cmd == LC_BUILD_VERSION:
            minos = struct.unpack_from("<I", data, offset + 12)[0]
            facts["minos"] = f"{minos >> 16}.{(minos >> 8) & 0xFF}"
        offset += cmdsize
    return facts, exports


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    facts, exports = describe(sys.argv[1])
    print(f"{sys.argv[1]}: {facts['cpu']} {facts['type']}, macOS {facts['minos']} or later, "
          f"{len(exports)} exported symbol(s)")
    for name in exports:
        print("  " + name)
    expected = sorted(sys.argv[2:])
    if expected and exports != expected:
        print(f"expected exactly: {' '.join(expected)}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
