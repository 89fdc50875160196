#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/ (run from anywhere; output is deterministic).

corpus/version     lines of versions and ranges
corpus/allow_list  a request line followed by allow-list entry lines
corpus/lockfile    lockfile documents, valid ones and a few refused ones
corpus/tar         uncompressed tar archives of every form the reader meets, each
                   after the tar target's control byte (see tar_fuzz.cpp)
corpus/tgz         the same archives gzip-compressed, plus gzip header variants
corpus/deflate     raw deflate data of some of the archives, each after the inflate
                   target's byte of read sizes (see inflate_fuzz.cpp); some cut
                   off, damaged or followed by other bytes

Archives come from Python's tarfile (ustar, GNU, pax), from GNU tar where only
it writes the form (v7, sparse files) and from hand-made header blocks for the
hostile cases. Each seed is small: the fuzzers grow their own corpora from them.
"""

import gzip
import io
import json
import os
import pathlib
import re
import shutil
import struct
import subprocess
import tarfile
import tempfile
import zlib

HERE = pathlib.Path(__file__).resolve().parent
CORPUS = HERE / "corpus"


# The tar target reads at most 16 KiB; larger archives are seeds of corpus/tgz only.
MAX_TAR_SEED = 16383


def write(kind, name, data):
    path = CORPUS / kind / name
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data if isinstance(data, bytes) else data.encode())


# Versions and ranges: one file per group, one text per line.
VERSION_SEEDS = {
    "valid_versions": ["0.0.0", "1.2.3", "1.2.3-0", "1.2.3-0a", "1.2.3-alpha.1", "1.2.3-x-y", "1.2.3--",
                       "1.2.3+001", "1.2.3-rc.1+build.5", "18446744073709551615.0.0"],
    "invalid_versions": ["", "1", "1.2", "v1.2.3", " 1.2.3", "1.2.3 ", "01.2.3", "1.02.3", "1.2.3.4", "1.2.3-",
                         "1.2.3+", "1.2.3-01", "1.2.3-a..b", "1.2.3-a.", "1.2.3-\u00e4", "1.2.3+a+b",
                         "18446744073709551616.0.0"],
    "order": ["2.1.0-a", "2.1.0-a.1", "2.1.0-a.b", "2.1.0-b", "2.1.0-b.3", "2.1.0-b.20", "2.1.0-c.1", "2.1.0",
              "2.1.1-a", "2.1.1", "1.0.0", "1.0.0+0", "1.0.0+00", "1.0.0+1", "1.0.0+a", "1.0.0+a.b"],
    "wildcards": ["*", "x", "X", "  *  ", "*, 1.0", "1.0, *", "*.*", "x.1", "1.*", "1.x.x", "1.2.X", ">1.*"],
    "ranges": ["1", "1.2", "1.2.3", "^1.2.3", "~1.2", "=1.2.3-beta", ">= 1.0", ">=1.0.0, <2.0.0",
               "1.2.3+build", "<=1.2", ">1.2", "<1.2", "~1", "0.2.3", "0.0.3", "0.0", "0",
               ">=1.2.3-alpha", "1.2.3-beta", "1.4.0-beta", "1.2.9", "1.3.0", "0.2.9", "0.3.0"],
    "invalid_ranges": [">=1.0.0 <2.0.0", "1.0.0 - 2.0.0", "^1 || ^2", "~>1.2", "> =1.0", "==1.0", "1.0,",
                       "1.*.3", "1.2.*-alpha", "1.2-alpha", "1.2+build", "", "   "],
    "many_comparators": [", ".join([">=0.0.1"] * 32), ", ".join([">=0.0.1"] * 33), "0.0.5"],
}

ALLOW_LIST_SEEDS = {
    "recursive": ["src/a/b.txt", "src/**"],
    "backslashes": ["src\\a\\b", "src\\**", "src/a"],
    "literal": ["src/a.py", "src/a.py", "src/*", "**", "*"],
    "dotdot": ["src/../etc", "/**", "src/../etc"],
    "root": ["/etc/passwd", "/**"],
    "empty_base": ["", "/**", ""],
    "domain_wildcard": ["api.example.org", "*.example.org", "example.org"],
    "domain_literal": ["*", "*", "api.*.org", "*example.org", "*."],
    "no_entries": ["anything"],
}

SKILL = {
    "resolved": "1.0.0",
    "integrity": "sha512-" + "A" * 86 + "==",
    "permissions": {"network": {"outbound": ["api.example.org", "*.cdn.example.org"]},
                    "filesystem": {"read": ["./data/**", ""], "write": None}, "subprocess": False},
    "audit_score": 87.5,
    "dependencies": {"left-pad": "^1.3.0", "util": "~2.0"},
}

LOCKFILE_SEEDS = {
    "minimal.json": '{"lockfileVersion":1,"skills":{}}',
    "one_skill.json": json.dumps({"lockfileVersion": 1, "skills": {"a": SKILL}}),
    "pretty.json": json.dumps({"lockfileVersion": 4294967295, "skills": {"b": SKILL, "a": SKILL, "": SKILL}},
                              indent=2),
    "absent_fields.json": '{"skills":{"a":{"permissions":{},"integrity":"x","resolved":"1.0.0"}},'
                          '"lockfileVersion":1}',
    "nulls.json": '{"lockfileVersion":1,"skills":{"a":{"resolved":"1","integrity":"x","permissions":'
                  '{"network":null,"filesystem":{"read":null,"write":[]},"subprocess":null},'
                  '"audit_score":null,"dependencies":{}}}}',
    "arrays.json": '[1,{"s":["1.0.0","x",[[["a"]],[["r"],null],true],-0.0],'
                   '"t":["1","y",[null,null,null],1e16,{"d":"1"}]}]',
    "unknown_keys.json": '{"extra":[{"deep":[1,2,{"x":null}]},true,"s",-1.5e-300],"lockfileVersion":1,'
                         '"skills":{"a":{"resolved":"1","integrity":"x","permissions":{"other":{},'
                         '"network":{"outbound":[],"z":0}},"more":[[[[]]]]}}}',
    "escapes.json": '{"lockfileVers\\u0069on":1,"skills":{"\\ud83d\\ude00\\n\\t\\"\\\\\\/\\b\\f\\r\\u001f":'
                    '{"resolved":"\u00e9\u4e2d","integrity":"\\u0000","permissions":{}}}}',
    "numbers.json": '{"lockfileVersion":0,"skills":{"a":{"resolved":"","integrity":"","permissions":{},'
                    '"audit_score":85}, "b":{"resolved":"","integrity":"","permissions":{},"audit_score":0.1},'
                    '"c":{"resolved":"","integrity":"","permissions":{},"audit_score":1.5e-6},'
                    '"d":{"resolved":"","integrity":"","permissions":{},"audit_score":-0.0},'
                    '"e":{"resolved":"","integrity":"","permissions":{},"audit_score":1.7976931348623157e308},'
                    '"f":{"resolved":"","integrity":"","permissions":{},"audit_score":5e-324},'
                    '"g":{"resolved":"","integrity":"","permissions":{},"audit_score":0.00001},'
                    '"h":{"resolved":"","integrity":"","permissions":{},"audit_score":123456789012345678901234}}}',
    "duplicate_members.json": '{"lockfileVersion":1,"skills":{"a":{"resolved":"1","integrity":"x",'
                              '"permissions":{},"dependencies":{"k":"1","k":"2"}},"a":{"resolved":"2",'
                              '"integrity":"y","permissions":{}}}}',
    "whitespace.json": ' \t\r\n{ "lockfileVersion" : 1 ,\r\n "skills" : { } } \n',
    "err_duplicate_field.json": '{"lockfileVersion":1,"lockfileVersion":2,"skills":{}}',
    "err_missing_field.json": '{\n"lockfileVersion": 1\n}',
    "err_u32.json": '{"lockfileVersion":4294967296,"skills":{}}',
    "err_float_u32.json": '{"lockfileVersion":1.0,"skills":{}}',
    "err_out_of_range.json": '{"lockfileVersion":1,"skills":{"a":{"resolved":"1","integrity":"x",'
                             '"permissions":{},"audit_score":1e400}}}',
    "err_surrogate.json": '{"lockfileVersion":1,"skills":{"\\ud800x":{}}}',
    "err_trailing_comma.json": '{"lockfileVersion":1,"skills":{},}',
    "err_control.json": '{"lockfileVersion":1,"skills":{"a\x01":{}}}',
    "err_bom.json": '\ufeff{"lockfileVersion":1,"skills":{}}',
    "err_length.json": '[1]',
    "err_type.json": '{"lockfileVersion":1,"skills":{"a":{"resolved":"1","integrity":"x",'
                     '"permissions":{"subprocess":1}}}}',
}


def tar_bytes(fmt, members, **kwargs):
    """members: (TarInfo fields dict, data bytes or None)."""
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w", format=fmt, **kwargs) as tf:
        for fields, data in members:
            info = tarfile.TarInfo(fields.pop("name"))
            info.mtime = 0
            info.mode = 0o644
            for key, value in fields.items():
                setattr(info, key, value)
            if data is not None:
                info.size = len(data)
                tf.addfile(info, io.BytesIO(data))
            else:
                tf.addfile(info)
    return trim(buf.getvalue())


def d(name):
    return {"name": name, "type": tarfile.DIRTYPE, "mode": 0o755}


def f(name, **extra):
    return {"name": name, **extra}


def python_archives():
    ustar, gnu, pax = tarfile.USTAR_FORMAT, tarfile.GNU_FORMAT, tarfile.PAX_FORMAT
    long_dir = "package/" + "d" * 60 + "/" + "e" * 60
    yield "ustar_basic", tar_bytes(ustar, [(d("package/"), None), (f("package/index.js"), b"module.exports = 1;\n"),
                                           (f("package/lib/util.js"), b"exports.u = 2;\n")])
    yield "ustar_prefix", tar_bytes(ustar, [(f(long_dir + "/file.txt"), b"prefix field\n")])
    yield "gnu_longname", tar_bytes(gnu, [(f("package/" + "n" * 150 + ".txt"), b"long name\n")])
    yield "gnu_longlink_symlink", tar_bytes(gnu, [(f("package/link", type=tarfile.SYMTYPE,
                                                     linkname="t" * 120), None)])
    yield "pax_longname", tar_bytes(pax, [(f("package/" + "p" * 200), b"pax path\n")])
    yield "pax_unicode", tar_bytes(pax, [(f("package/caf\u00e9/\u4e2d.txt"), b"utf-8 names\n")])
    yield "pax_global", tar_bytes(pax, [(f("package/a"), b"a")], pax_headers={"comment": "global header"})
    yield "pax_size_record", tar_bytes(pax, [(f("package/big", pax_headers={"size": "3"}), b"abc")])
    yield "symlink", tar_bytes(ustar, [(f("package/s", type=tarfile.SYMTYPE, linkname="/etc/passwd"), None)])
    yield "hardlink", tar_bytes(ustar, [(f("package/a"), b"x"),
                                        (f("package/h", type=tarfile.LNKTYPE, linkname="package/a"), None)])
    yield "absolute", tar_bytes(gnu, [(f("/tmp/x"), b"x")])
    yield "traversal", tar_bytes(gnu, [(f("package/../x"), b"x"), (f("package\\..\\y"), b"y")])
    yield "backslashes", tar_bytes(gnu, [(f("package/a\\b.txt"), b"b"), (f("\\etc\\passwd"), b"p"),
                                         (f("package//x"), b"x"), (f("package/\\y"), b"y")])
    yield "special_entries", tar_bytes(ustar, [
        (f("package/fifo", type=tarfile.FIFOTYPE), None),
        (f("package/tty", type=tarfile.CHRTYPE, devmajor=4, devminor=1), None),
        (f("package/sda", type=tarfile.BLKTYPE, devmajor=8, devminor=0), None),
        (f("package/cont", type=tarfile.CONTTYPE), b"contiguous"),
        (f("README"), b"top level"), (f("package/"), None), (d("package/dir"), None),
        (f("package/dir/file"), b"inside"), (f("package/dir/file"), b"again")])
    yield "dot_names", tar_bytes(gnu, [(f("package/./x"), b"1"), (f("package/..x"), b"2"), (f("package/...x"), b"3")])
    yield "empty_files", tar_bytes(ustar, [(f("package/e%d" % i), b"") for i in range(4)])
    yield "empty_archive", tar_bytes(ustar, [])
    # Deep folders: a chain grown at its foot, a second chain taking turns with
    # it, a shallower file and a directory entry after deeper ones, a sibling
    # whose name extends a folder's, and a file where a folder is needed.
    chain = "package/" + "d/" * 60
    yield "deep_path", tar_bytes(gnu, [(f("package/" + "d/" * 40 + "f"), b"deep")])
    yield "deep_chains", tar_bytes(gnu, [
        (f(chain + "0/f"), b"0"), (f("package/" + "e/" * 60 + "1/f"), b"1"), (f(chain + "2/f"), b"2"),
        (d(chain + "x/"), None), (f("package/d/d/g"), b"g"), (f("package/d/db/g"), b"s"), (f(chain + "0/f"), b"3")])
    yield "deep_in_the_way", tar_bytes(gnu, [(f(chain + "f"), b"file"), (f(chain + "f/g/h"), b"under a file")])
    # Larger than the reader's buffer, yet small compressed: only in corpus/tgz.
    yield "large_file", tar_bytes(ustar, [(f("package/zeros.bin"), b"\0" * 600_000),
                                          (f("package/after.txt"), b"after a large file")])


def block_checksum(block):
    block = bytearray(block)
    block[148:156] = b" " * 8
    block[148:156] = b"%06o\0 " % sum(block)
    return bytes(block)


def hand_archives():
    """Header forms that tarfile does not write."""
    base = bytearray(tar_bytes(tarfile.GNU_FORMAT, [(f("package/base256"), b"binary size")]))
    # Base-256 size: high bit on the first byte, big-endian value in the last eight.
    base[124:136] = b"\x80" + b"\0" * 3 + struct.pack(">Q", len(b"binary size"))
    yield "base256_size", block_checksum(base[:512]) + bytes(base[512:])
    # An archive that stops at a block boundary, without the two zero blocks.
    plain = tar_bytes(tarfile.USTAR_FORMAT, [(f("package/noend"), b"no end marker")])
    yield "no_end_marker", plain[:1024]
    # Two GNU long names for one entry, and a long name at the very end.
    longname = tar_bytes(tarfile.GNU_FORMAT, [(f("package/" + "q" * 120), b"q")])
    yield "two_long_names", longname[:1024] + longname
    yield "dangling_long_name", longname[:1024] + b"\0" * 1024
    bad_sum = bytearray(plain)
    bad_sum[0] ^= 1
    yield "bad_checksum", bytes(bad_sum)


def system_tar_archives():
    """v7 and sparse forms, written by GNU tar."""
    if shutil.which("tar") is None:
        return
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp) / "package"
        root.mkdir()
        (root / "v7.txt").write_bytes(b"seventh edition\n")
        with open(root / "sparse.bin", "wb") as out:
            out.seek(20000)
            out.write(b"data after a hole")
            out.seek(40000)
            out.write(b"end")
        # More data regions than an old GNU sparse header holds: the map
        # continues in extension blocks.
        with open(root / "many_holes.bin", "wb") as out:
            for region in range(8):
                out.seek(region * 65536)
                out.write(b"region %d" % region)
        def tar(*args):
            command = ["tar", "-C", tmp, "--mtime=@0", "--owner=0", "--group=0", "--numeric-owner", *args]
            return trim(subprocess.run(command, check=True, capture_output=True).stdout)

        yield "v7", tar("--format=v7", "-cf", "-", "package/v7.txt")
        yield "gnu_sparse", tar("--format=gnu", "--sparse", "-cf", "-", "package/sparse.bin")
        yield "gnu_sparse_extended", tar("--format=gnu", "--sparse", "-cf", "-", "package/many_holes.bin")
        for version in ("0.0", "0.1", "1.0"):
            yield "pax_sparse_" + version.replace(".", "_"), without_pid(tar(
                "--format=pax", "--sparse", "--sparse-version=" + version,
                "--pax-option=delete=atime,delete=ctime,exthdr.name=%d/PaxHeaders/%f", "-cf", "-",
                "package/sparse.bin"))


def without_pid(archive):
    """GNU tar names a pax sparse entry's header "GNUSparseFile.<process id>": make it 0."""
    out = bytearray(archive)
    for at in range(0, len(out), 512):
        name = bytes(out[at:at + 100])
        fixed = re.sub(rb"GNUSparseFile\.[0-9]+", b"GNUSparseFile.0", name.rstrip(b"\0"))
        if fixed != name.rstrip(b"\0"):
            out[at:at + 100] = fixed.ljust(100, b"\0")
            out[at:at + 512] = block_checksum(out[at:at + 512])
    return bytes(out)


def trim(archive):
    """Drops the zero blocks that tar pads a record with beyond the end marker."""
    archive = archive.rstrip(b"\0")
    blocks = -(-len(archive) // 512) * 512
    return archive.ljust(blocks, b"\0") + b"\0" * 1024


def gzip_member(content, flags=0, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, extra=b"", name=b"", comment=b""):
    header = bytearray(b"\x1f\x8b\x08" + bytes([flags]) + b"\0\0\0\0" + b"\0\xff")
    if flags & 4:
        header += struct.pack("<H", len(extra)) + extra
    if flags & 8:
        header += name + b"\0"
    if flags & 16:
        header += comment + b"\0"
    if flags & 2:
        header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)
    deflate = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    body = deflate.compress(content) + deflate.flush()
    trailer = struct.pack("<II", zlib.crc32(content), len(content) & 0xFFFFFFFF)
    return bytes(header) + body + trailer


def gzip_variants(archive):
    yield "fhcrc_fextra_fname_fcomment", gzip_member(archive, flags=2 | 4 | 8 | 16, extra=b"AB\x02\0hi",
                                                     name=b"package.tar", comment=b"a comment")
    yield "ftext", gzip_member(archive, flags=1)
    yield "stored", gzip_member(archive, level=0)
    yield "fixed_huffman", gzip_member(archive, strategy=zlib.Z_FIXED)
    yield "two_members", gzip_member(archive) + gzip_member(b"second member")
    half = len(archive) // 2
    yield "split_members", gzip_member(archive[:half]) + gzip_member(b"") + gzip_member(archive[half:], level=0)
    yield "members_then_zeros", gzip_member(archive[:700]) + gzip_member(archive[700:]) + bytes(64)
    yield "empty_content", gzip_member(b"")
    yield "bad_trailer", gzip_member(archive)[:-8] + b"\0" * 8
    yield "truncated", gzip_member(archive)[:-20]
    yield "header_only", gzip_member(b"")[:10]


def deflate_variants(archives):
    """Raw deflate data with every kind of block, and streams cut off,
    damaged, or followed by more bytes."""
    def raw(content, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, wbits=-15, memlevel=9):
        deflate = zlib.compressobj(level, zlib.DEFLATED, wbits, memlevel, strategy)
        return deflate.compress(content) + deflate.flush()

    archive = archives["ustar_basic"]
    text = b"".join(b"line %d of a text that repeats itself\n" % (i % 37) for i in range(400))
    streams = {
        "stored": raw(archive, level=0),
        "fixed": raw(archive, strategy=zlib.Z_FIXED),
        "dynamic": raw(text, level=9),
        "huffman_only": raw(text, strategy=zlib.Z_HUFFMAN_ONLY),
        "rle": raw(bytes(3000) + text[:500], strategy=zlib.Z_RLE),
        "small_window": raw(text, wbits=-9, memlevel=1),
        "empty": raw(b""),
        "long_matches": raw(b"ab" * 20000, level=9),
    }
    # Damage: cut short, a byte changed in the middle, more bytes after the end.
    dynamic = streams["dynamic"]
    streams["cut_off"] = dynamic[: len(dynamic) // 2]
    streams["damaged"] = dynamic[:40] + bytes([dynamic[40] ^ 0x55]) + dynamic[41:]
    streams["then_trailer"] = dynamic + b"\x1f\x8b\x08\0more"
    streams["far_back"] = bytes([0x63, 0x00, 0x42, 0x00, 0x00])  # a match before any output
    # The byte of read sizes: plain, tiny windows, varied pieces.
    for name, data in streams.items():
        for sizes in (0x2D, 0x01, 0x4F):
            write("deflate", f"{name}_{sizes:02x}", bytes([sizes]) + data)


def main():
    if CORPUS.exists():
        shutil.rmtree(CORPUS)
    for name, lines in VERSION_SEEDS.items():
        write("version", name, "\n".join(lines))
    for name, lines in ALLOW_LIST_SEEDS.items():
        write("allow_list", name, "\n".join(lines))
    for name, text in LOCKFILE_SEEDS.items():
        write("lockfile", name, text)
    archives = dict(python_archives())
    archives.update(hand_archives())
    archives.update(system_tar_archives())
    for name, data in archives.items():
        # Control byte 0: checksums are made right, entry data is read; the
        # damaged-checksum seed keeps its checksum, one seed passes over data.
        control = {"bad_checksum": 1, "special_entries": 2}.get(name, 0)
        if len(data) <= MAX_TAR_SEED:
            write("tar", name + ".tar", bytes([control]) + data)
        write("tgz", name + ".tgz", gzip.compress(data, compresslevel=9, mtime=0))
    for name, data in gzip_variants(archives["ustar_basic"]):
        write("tgz", "gzip_" + name + ".tgz", data)
    deflate_variants(archives)
    total = sum(p.stat().st_size for p in CORPUS.rglob("*") if p.is_file())
    print(f"wrote {sum(1 for p in CORPUS.rglob('*') if p.is_file())} seeds, {total} bytes, under {CORPUS}")


if __name__ == "__main__":
    main()
