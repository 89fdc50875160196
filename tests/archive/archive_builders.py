"""Small builders for the archives the extraction tests feed in.

Headers are assembled byte by byte so that tests can break any field on
purpose; gzip members are assembled here too, so that their header fields and
trailer can be chosen freely.
"""

import os
import shutil
import stat
import struct
import subprocess
import zlib

import morvane_core

BLOCK = 512
GNU_MAGIC = b"ustar  \0"
USTAR_MAGIC = b"ustar\x0000"
V7_MAGIC = b"\0" * 8
MAGICS = {"gnu": GNU_MAGIC, "ustar": USTAR_MAGIC, "v7": V7_MAGIC}

MiB = 1024 * 1024
GiB = 1024 * MiB


def octal(value, width):
    """A NUL-terminated octal field of `width` bytes."""
    return b"%0*o\0" % (width - 1, value)


def base256(value, width=12):
    """The GNU binary form: high bit set in the first byte, big-endian value."""
    return bytes([0x80]) + value.to_bytes(width - 1, "big")


def header(name, size=0, type=b"0", fmt="gnu", prefix=b"", size_field=None, checksum=None,
           linkname=b"", extra=None):
    """One 512-byte header block with a valid checksum unless `checksum` is given.

    `size_field` replaces the 12-byte size field verbatim; `extra` maps offsets
    to bytes written over the block before the checksum is computed.
    """
    if isinstance(name, str):
        name = name.encode()
    if isinstance(type, str):
        type = type.encode()
    block = bytearray(BLOCK)
    block[0:len(name[:100])] = name[:100]
    block[100:108] = octal(0o644, 8)
    block[108:116] = octal(0, 8)
    block[116:124] = octal(0, 8)
    block[124:136] = size_field if size_field is not None else octal(size, 12)
    block[136:148] = octal(0, 12)
    block[156:157] = type
    block[157:157 + len(linkname)] = linkname
    block[257:265] = MAGICS[fmt]
    if fmt == "ustar":
        block[345:345 + len(prefix)] = prefix
    for offset, data in (extra or {}).items():
        block[offset:offset + len(data)] = data
    if checksum is None:
        block[148:156] = b" " * 8
        block[148:156] = b"%06o\0 " % sum(block)
    else:
        block[148:156] = checksum
    return bytes(block)


def pad(data):
    return data + b"\0" * (-len(data) % BLOCK)


def entry(name, data=b"", type=b"0", fmt="gnu", size=None, **fields):
    """A header followed by its padded data; `size` may claim another length."""
    return header(name, len(data) if size is None else size, type, fmt, **fields) + pad(data)


def long_name(name, fmt="gnu"):
    """A GNU long-name record ("L") carrying `name` plus its terminating NUL."""
    if isinstance(name, str):
        name = name.encode()
    return entry(b"././@LongLink", name + b"\0", b"L", fmt)


def named(name, data=b"", type=b"0"):
    """An entry whose name goes in a GNU long-name record when it does not fit the header."""
    if isinstance(name, str):
        name = name.encode()
    if len(name) < 100:
        return entry(name, data, type)
    return long_name(name) + entry(b"././@LongLink-entry", data, type)


def long_link(target, fmt="gnu"):
    if isinstance(target, str):
        target = target.encode()
    return entry(b"././@LongLink", target + b"\0", b"K", fmt)


def pax_record(key, value):
    """One "LEN key=value\\n" record, LEN counting the whole record."""
    if isinstance(key, str):
        key = key.encode()
    if isinstance(value, str):
        value = value.encode()
    body = b" " + key + b"=" + value + b"\n"
    length = len(body) + 1
    while len(b"%d" % length) + len(body) != length:
        length += 1
    return b"%d" % length + body


def pax(records, fmt="ustar", type=b"x"):
    """A pax extended header holding `records`, a dict or a list of pairs or raw bytes."""
    if isinstance(records, dict):
        records = list(records.items())
    payload = records if isinstance(records, bytes) else b"".join(pax_record(k, v) for k, v in records)
    return entry(b"PaxHeader/x", payload, type, fmt)


def tar(*parts, end=2):
    """Concatenated blocks followed by `end` zero blocks."""
    return b"".join(parts) + b"\0" * (BLOCK * end)


class Deflate:
    """A raw deflate stream assembled piece by piece.

    Each piece ends with a full flush, which empties the compressor's history,
    so a piece's bytes do not depend on what came before: long runs of zeros are
    built by repeating one compressed megabyte.
    """

    _zero_piece = None

    def __init__(self):
        self.parts = []
        self.crc = 0
        self.size = 0

    @staticmethod
    def _piece(data):
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        return c.compress(data) + c.flush(zlib.Z_FULL_FLUSH)

    def add(self, data):
        self.parts.append(self._piece(data))
        self.crc = zlib.crc32(data, self.crc)
        self.size += len(data)
        return self

    def add_zeros(self, n, crc=True):
        """n zero bytes; crc=False leaves the trailer's checksum stale (for
        archives whose trailer is never reached)."""
        if Deflate._zero_piece is None:
            Deflate._zero_piece = self._piece(bytes(MiB))
        whole, rest = divmod(n, MiB)
        self.parts.append(Deflate._zero_piece * whole)
        if rest:
            self.parts.append(self._piece(bytes(rest)))
        if crc:
            zero = bytes(MiB)
            for _ in range(whole):
                self.crc = zlib.crc32(zero, self.crc)
            self.crc = zlib.crc32(bytes(rest), self.crc)
        self.size += n
        return self

    def finish(self):
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        return b"".join(self.parts) + c.flush()


def gzip_member(body, *, flags=0, extra=None, fname=None, comment=None, hcrc=None,
                crc=None, isize=None, trailer=True, method=8, magic=b"\x1f\x8b"):
    """A gzip member around `body` (bytes or a Deflate), every field choosable.

    `hcrc` True stores the right header CRC, an int stores that value.
    """
    deflate = body if isinstance(body, Deflate) else Deflate().add(body)
    if extra is not None:
        flags |= 0x04
    if fname is not None:
        flags |= 0x08
    if comment is not None:
        flags |= 0x10
    if hcrc is not None:
        flags |= 0x02
    head = magic + bytes([method, flags]) + b"\0\0\0\0" + b"\0\xff"
    if extra is not None:
        head += struct.pack("<H", len(extra)) + extra
    if fname is not None:
        head += fname
    if comment is not None:
        head += comment
    if hcrc is not None:
        value = zlib.crc32(head) & 0xFFFF if hcrc is True else hcrc
        head += struct.pack("<H", value)
    out = head + deflate.finish()
    if trailer:
        out += struct.pack("<II", deflate.crc if crc is None else crc,
                           deflate.size & 0xFFFFFFFF if isize is None else isize)
    return out


def gz(raw):
    return gzip_member(raw)


def extract(data, dest):
    return morvane_core.extract_tarball(data, str(dest))


def failure(data, dest):
    """The message of the OSError that extracting `data` raises."""
    try:
        result = morvane_core.extract_tarball(data, str(dest))
    except OSError as e:
        assert type(e) is OSError and len(e.args) == 1
        return e.args[0]
    raise AssertionError(f"extraction succeeded: {result!r}")


def os_text(errnum):
    return f"{os.strerror(errnum)} (os error {errnum})"


def snapshot(root):
    """Everything under `root`: path -> (kind, content, mode bits, link count)."""
    seen = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            st = os.lstat(path)
            rel = os.path.relpath(path, root)
            if stat.S_ISLNK(st.st_mode):
                seen[rel] = ("link", os.readlink(path), None, st.st_nlink)
            elif stat.S_ISREG(st.st_mode):
                with open(path, "rb") as f:
                    seen[rel] = ("file", f.read(), stat.S_IMODE(st.st_mode), st.st_nlink)
            elif stat.S_ISDIR(st.st_mode):
                seen[rel] = ("dir", None, stat.S_IMODE(st.st_mode), None)
            else:
                seen[rel] = ("other", None, stat.S_IMODE(st.st_mode), st.st_nlink)
    return seen


def tree(root):
    """Files and directories under `root`: relative path -> bytes, or None for a directory."""
    out = {}
    for rel, (kind, content, _, _) in snapshot(root).items():
        out[rel] = content if kind == "file" else (None if kind == "dir" else kind)
    return out


HAVE_GNU_TAR = shutil.which("tar") is not None and b"GNU tar" in subprocess.run(
    ["tar", "--version"], capture_output=True).stdout


def system_tar(source_dir, member, *options):
    """Raw tar bytes made by the system's GNU tar from `member` inside `source_dir`."""
    result = subprocess.run(["tar", *options, "-cf", "-", "-C", str(source_dir), member],
                            capture_output=True, check=True)
    return result.stdout
