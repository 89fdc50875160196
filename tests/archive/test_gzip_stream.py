"""The gzip member around the archive: header fields, deflate data and trailer."""

import shutil
import subprocess
import zlib

import pytest

from archive_builders import Deflate, entry, extract, failure, gzip_member, tar, tree

ARCHIVE = tar(entry("package/f", b"content"))
# Without end blocks the archive ends where the stream ends, so reading it
# reaches the gzip trailer.
OPEN_ENDED = tar(entry("package/f", b"content"), end=0)

EOF_TEXT = "IO error: unexpected end of file"
HEADER_TEXT = "IO error: invalid gzip header"
CHECKSUM_TEXT = "IO error: corrupt gzip stream does not have a matching checksum"
FIELD_TEXT = "IO error: gzip header field too long"
DEFLATE_TEXT = "IO error: corrupt deflate stream"

FIELD_LIMIT = 65_535
GOOD = gzip_member(ARCHIVE)


@pytest.mark.parametrize("data, message", [
    (b"", EOF_TEXT),
    (b"\x1f", EOF_TEXT),
    (b"\x1f\x8b\x08", EOF_TEXT),
    (GOOD[:9], EOF_TEXT),
    (b"\x00" * 9, EOF_TEXT),
    (GOOD[:10], EOF_TEXT),
    (ARCHIVE, HEADER_TEXT),
    (b"PK\x03\x04" + b"\0" * 30, HEADER_TEXT),
    (gzip_member(ARCHIVE, magic=b"\x1f\x8c"), HEADER_TEXT),
    (gzip_member(ARCHIVE, magic=b"\x8b\x1f"), HEADER_TEXT),
    (gzip_member(ARCHIVE, method=7), HEADER_TEXT),
    (gzip_member(ARCHIVE, method=9), HEADER_TEXT),
    (gzip_member(ARCHIVE, flags=0x20), HEADER_TEXT),
    (gzip_member(ARCHIVE, flags=0x80), HEADER_TEXT),
    (gzip_member(ARCHIVE, extra=b"ab")[:13], EOF_TEXT),
    (gzip_member(ARCHIVE, extra=b"ab")[:11], EOF_TEXT),
    (gzip_member(ARCHIVE, fname=b"name")[:14], EOF_TEXT),
    (gzip_member(ARCHIVE, comment=b"comment")[:15], EOF_TEXT),
    (gzip_member(ARCHIVE, fname=b"n" * FIELD_LIMIT)[:10 + FIELD_LIMIT], EOF_TEXT),
    (gzip_member(ARCHIVE, fname=b"n" * (FIELD_LIMIT + 1) + b"\0"), FIELD_TEXT),
    (gzip_member(ARCHIVE, fname=b"n" * (FIELD_LIMIT + 1))[:10 + FIELD_LIMIT + 1], FIELD_TEXT),
    (gzip_member(ARCHIVE, comment=b"c" * (FIELD_LIMIT + 1) + b"\0"), FIELD_TEXT),
    (gzip_member(ARCHIVE, fname=b"ok\0", comment=b"c" * 70_000 + b"\0"), FIELD_TEXT),
    (gzip_member(ARCHIVE, hcrc=True)[:11], EOF_TEXT),
    (gzip_member(ARCHIVE, hcrc=0x1234), CHECKSUM_TEXT),
    (gzip_member(ARCHIVE, fname=b"a.tar\0", hcrc=(zlib.crc32(b"") + 1) & 0xFFFF), CHECKSUM_TEXT),
], ids=lambda v: None if isinstance(v, (bytes, str)) and len(v) > 40 else repr(v)[:40])
def test_header_failures(tmp_path, data, message):
    assert failure(data, tmp_path / "dest") == message
    assert tree(tmp_path) == {"dest": None}


@pytest.mark.parametrize("options", [
    {},
    {"extra": b""},
    {"extra": b"AP\x04\x00abcd" * 100},
    {"fname": b"package.tar\0"},
    {"fname": b"\0"},
    {"fname": b"n" * FIELD_LIMIT + b"\0"},
    {"comment": b"c" * FIELD_LIMIT + b"\0"},
    {"fname": b"n" * FIELD_LIMIT + b"\0", "comment": b"c" * FIELD_LIMIT + b"\0"},
    {"hcrc": True},
    {"extra": b"xy", "fname": b"f\0", "comment": b"c\0", "hcrc": True},
    {"flags": 0x01},  # FTEXT is a hint only
])
def test_header_fields_are_read_past(tmp_path, options):
    assert extract(gzip_member(ARCHIVE, **options), tmp_path) == ["f"]
    assert tree(tmp_path) == {"f": b"content"}


class TestTrailer:
    def test_correct_trailer_at_the_end_of_an_open_ended_archive(self, tmp_path):
        assert extract(gzip_member(OPEN_ENDED), tmp_path) == ["f"]

    @pytest.mark.parametrize("fields", [{"crc": 0}, {"isize": 0}, {"isize": len(OPEN_ENDED) + 1},
                                        {"crc": zlib.crc32(OPEN_ENDED) ^ 1}])
    def test_mismatch_is_reported_when_reading_reaches_it(self, tmp_path, fields):
        assert failure(gzip_member(OPEN_ENDED, **fields), tmp_path) == CHECKSUM_TEXT
        # The entry itself was written before the end was reached.
        assert tree(tmp_path) == {"f": b"content"}

    @pytest.mark.parametrize("keep", [0, 4, 7])
    def test_truncated_trailer(self, tmp_path, keep):
        data = gzip_member(OPEN_ENDED)
        assert failure(data[:len(data) - 8 + keep], tmp_path) == EOF_TEXT

    @pytest.mark.parametrize("tail", [b"", b"\0" * 8, b"garbage!", b"garbage after the member"])
    def test_not_examined_behind_a_complete_archive(self, tmp_path, tail):
        data = gzip_member(ARCHIVE, trailer=False) + tail
        assert extract(data, tmp_path) == ["f"]

    def test_wrong_trailer_behind_the_end_block_is_not_examined(self, tmp_path):
        assert extract(gzip_member(ARCHIVE, crc=1, isize=2), tmp_path) == ["f"]

    def test_empty_content(self, tmp_path):
        assert extract(gzip_member(b""), tmp_path / "d") == []
        assert failure(gzip_member(b"", crc=5), tmp_path / "d") == CHECKSUM_TEXT
        assert tree(tmp_path) == {"d": None}


class TestDeflateData:
    def test_invalid_block_type(self, tmp_path):
        head = gzip_member(b"", trailer=False)[:10]
        assert failure(head + b"\x07" + b"\0" * 20, tmp_path) == DEFLATE_TEXT

    def test_distance_too_far_back(self, tmp_path):
        # A fixed-Huffman block whose first symbol is a match: nothing to copy from.
        head = gzip_member(b"", trailer=False)[:10]
        assert failure(head + b"\x03\x02\x00\x00" + b"\0" * 16, tmp_path) == DEFLATE_TEXT

    def test_entries_before_the_damage_are_written(self, tmp_path):
        # A full flush leaves the stream on a byte boundary, where an invalid
        # block type follows.
        good = b"".join(Deflate().add(entry("package/first", b"1")).add(entry("package/second", b"2")).parts)
        data = gzip_member(b"", trailer=False)[:10] + good + b"\x07" + bytes(40)
        assert failure(data, tmp_path) == DEFLATE_TEXT
        assert tree(tmp_path) == {"first": b"1", "second": b"2"}

    @pytest.mark.parametrize("cut", [1, 10, 100])
    def test_truncated_deflate_data(self, tmp_path, cut):
        data = gzip_member(tar(entry("package/f", bytes(range(256)) * 40), end=0), trailer=False)
        assert failure(data[:-cut], tmp_path) == EOF_TEXT

    def test_every_byte_before_a_truncation_is_written(self, tmp_path):
        # Long matches leave output pending inside zlib when a read stops at a
        # full buffer; when the input is used up at that moment, the pending
        # bytes must still reach the file before the truncation is reported.
        # The random start makes the stream large enough to be decompressed
        # on a second thread, the repeated text gives the long matches; the
        # cuts are those that end the decodable output near the readers'
        # buffer boundaries (multiples of 128 KiB), on either side.
        import random
        content = random.Random(5).randbytes(200_000) + b"abcdefgh" * 50_000
        data = gzip_member(tar(entry("package/f", content), end=0), trailer=False)
        header = 512
        cuts = []
        for cut in range(len(data) - 4000, len(data)):
            decodable = len(zlib.decompressobj(wbits=31).decompress(data[:cut]))
            if min(decodable % 131_072, -decodable % 131_072) < 2_000:
                cuts.append((cut, decodable))
        assert len(cuts) >= 5
        for cut, decodable in cuts:
            dest = tmp_path / str(cut)
            assert failure(data[:cut], dest) == EOF_TEXT
            assert (dest / "f").read_bytes() == content[:decodable - header], cut

    def test_truncation_behind_a_complete_archive_is_not_noticed(self, tmp_path):
        # Everything up to the end block decompresses before the cut.
        data = gzip_member(tar(entry("package/f", b"x")), trailer=False)
        assert extract(data[:-1], tmp_path) == ["f"]

    def test_input_window_boundaries(self, tmp_path):
        # Incompressible data makes the compressed stream several times the
        # 32 KiB input window.
        import random
        content = random.Random(3).randbytes(300_000)
        data = gzip_member(tar(entry("package/r", content), end=0))
        assert extract(data, tmp_path) == ["r"]
        assert (tmp_path / "r").read_bytes() == content


class TestOtherWriters:
    @pytest.mark.skipif(shutil.which("gzip") is None, reason="no gzip program")
    def test_gzip_program_with_name(self, tmp_path):
        src = tmp_path / "package.tar"
        src.write_bytes(OPEN_ENDED)
        subprocess.run(["gzip", "-9", "-N", str(src)], check=True)
        data = (tmp_path / "package.tar.gz").read_bytes()
        assert data[3] & 0x08
        assert extract(data, tmp_path / "out") == ["f"]



A_AND_B = tar(entry("package/a", b"a" * 700), entry("package/b", b"b"), end=0)


AB_FILES = {"a": b"a" * 700, "b": b"b"}


@pytest.mark.parametrize("members, files", [
    # split between entries, inside an entry's data, and with empty members around
    ([A_AND_B[:1536], A_AND_B[1536:]], AB_FILES),
    ([A_AND_B[:700], A_AND_B[700:]], AB_FILES),
    ([A_AND_B[:100], b"", A_AND_B[100:]], AB_FILES),
    ([A_AND_B[:1536], b"", A_AND_B[1536:], b""], AB_FILES),
    ([tar(entry("package/a", b"a"), end=0), tar(entry("package/b", b"b"))], {"a": b"a", "b": b"b"}),
])
def test_every_member_is_read(tmp_path, members, files):
    data = b"".join(gzip_member(part) for part in members)
    # Bytes after the last member that are no member are not examined.
    for tail in (b"", bytes(100), b"\x1f"):
        dest = tmp_path / str(len(tail))
        assert extract(data + tail, dest) == list(files)
        assert tree(dest) == files


@pytest.mark.parametrize("second, message, written", [
    (gzip_member(A_AND_B[1536:], method=7), HEADER_TEXT, ["a"]),
    (gzip_member(A_AND_B[1536:])[:9], EOF_TEXT, ["a"]),
    (b"\x1f\x8b", EOF_TEXT, ["a"]),
    # "b" lies whole in the second member's deflate data, before its trailer
    (gzip_member(A_AND_B[1536:])[:-4], EOF_TEXT, ["a", "b"]),
    (gzip_member(A_AND_B[1536:], crc=1), CHECKSUM_TEXT, ["a", "b"]),
])
def test_a_damaged_later_member_fails_after_the_earlier_ones(tmp_path, second, message, written):
    assert failure(gzip_member(A_AND_B[:1536]) + second, tmp_path) == message
    assert tree(tmp_path) == {name: AB_FILES[name] for name in written}


def test_a_bad_trailer_before_a_second_member_fails(tmp_path):
    data = gzip_member(A_AND_B[:1536], crc=1) + gzip_member(A_AND_B[1536:])
    assert failure(data, tmp_path) == CHECKSUM_TEXT


class TestLargeStreams:
    """Streams many times the size of the reader's buffers: order, refusals and
    the trailer check hold across refills."""

    @staticmethod
    def incompressible(seed, size):
        import random
        return random.Random(seed).randbytes(size)

    def test_many_files_in_order(self, tmp_path):
        files = {f"d{i % 7}/f{i}": self.incompressible(i, 1_000 + 97 * i) for i in range(200)}
        data = gzip_member(tar(*(entry("package/" + name, body) for name, body in files.items())))
        assert len(data) > 256 * 1024
        assert extract(data, tmp_path) == list(files)
        assert tree(tmp_path) == {**files, **{f"d{i}": None for i in range(7)}}

    def test_refusal_late_in_the_stream_keeps_the_files_before_it(self, tmp_path):
        first = self.incompressible(1, 400_000)
        data = gzip_member(tar(entry("package/first", first), entry("package/../x", b"1"),
                               entry("package/after", self.incompressible(2, 400_000))))
        assert failure(data, tmp_path / "dest") == "Path traversal in tarball: package/../x"
        assert tree(tmp_path / "dest") == {"first": first}
        assert not (tmp_path / "x").exists()

    def test_refusal_at_the_start_stops_reading(self, tmp_path):
        # The first entry is refused while most of the stream is still unread.
        data = gzip_member(tar(entry("package/../x", b"1"), entry("package/big", self.incompressible(3, 2_000_000))))
        assert failure(data, tmp_path / "dest") == "Path traversal in tarball: package/../x"
        assert tree(tmp_path / "dest") == {}

    def test_damaged_trailer(self, tmp_path):
        body = self.incompressible(4, 300_000)
        data = bytearray(gzip_member(tar(entry("package/f", body), end=0)))
        data[-5] ^= 1  # the stored length
        assert failure(bytes(data), tmp_path) == CHECKSUM_TEXT
        assert (tmp_path / "f").read_bytes() == body
