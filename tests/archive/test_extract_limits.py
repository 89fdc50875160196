"""The size and count limits, each at its boundary and just past it.

Large sizes are claimed by headers whose data is zeros, which compress to
almost nothing; where a limit stops the call before the data is read, the data
is left out altogether.
"""

import errno
import os
import shutil

import pytest

from archive_builders import (
    BLOCK, GiB, MiB, Deflate, entry, extract, failure, gz, gzip_member, header, long_link, long_name, named,
    os_text, pax, pax_record, tar, tree,
)

COMPRESSED_LIMIT = 104_857_600
ENTRY_LIMIT = 10_000
FILE_LIMIT = 52_428_800
TOTAL_LIMIT = 524_288_000
RECORD_LIMIT = 1_048_576
SKIPPED_LIMIT = 1_073_741_824
DIRECTORY_LIMIT = 20_000

ENTRY_TEXT = "IO error: tarball exceeds 10000 entry limit"
TOTAL_TEXT = "IO error: total extracted size exceeds 500MB limit"
SKIPPED_TEXT = "IO error: skipped entry data exceeds 1GB limit"


def zero_file_archive(name, size, *before, after=(), type="0"):
    """`before` blocks, then an entry of `size` zero bytes, then `after` blocks.

    The archive ends with zero blocks, so its gzip trailer is never read and
    its checksum is not worked out.
    """
    stream = Deflate().add(b"".join(before) + header(name, size, type=type))
    stream.add_zeros(size + (-size % BLOCK), crc=False)
    stream.add(b"".join(after) + b"\0" * (2 * BLOCK))
    return gzip_member(stream)


class TestCompressedSize:
    def test_at_the_limit_the_archive_is_read(self, tmp_path):
        archive = gz(tar(entry("p/f", b"1")))
        data = archive + b"\0" * (COMPRESSED_LIMIT - len(archive))
        assert len(data) == COMPRESSED_LIMIT
        assert extract(data, tmp_path / "dest") == ["f"]

    def test_one_byte_more_is_refused_before_dest_is_created(self, tmp_path):
        archive = gz(tar(entry("p/f", b"1")))
        data = archive + b"\0" * (COMPRESSED_LIMIT + 1 - len(archive))
        assert failure(data, tmp_path / "dest") == "IO error: compressed tarball exceeds 100MB limit"
        assert os.listdir(tmp_path) == []

    def test_the_size_is_checked_before_dest(self, tmp_path):
        assert failure(bytes(COMPRESSED_LIMIT + 1), "bad\0dest") == "IO error: compressed tarball exceeds 100MB limit"


def top_level_entries(n):
    return [header(b"top%d" % i) for i in range(n)]


class TestEntryCount:
    def test_exactly_the_limit_is_extracted(self, tmp_path):
        files = [entry(f"package/f{i}", b"%d" % i) for i in range(100)]
        data = gz(tar(*files, *top_level_entries(ENTRY_LIMIT - 100)))
        assert extract(data, tmp_path) == [f"f{i}" for i in range(100)]

    def test_one_more_entry_fails_after_the_first_ones_are_written(self, tmp_path):
        files = [entry(f"package/f{i}", b"%d" % i) for i in range(100)]
        data = gz(tar(*files, *top_level_entries(ENTRY_LIMIT - 100), entry("package/late", b"x")))
        assert failure(data, tmp_path) == ENTRY_TEXT
        assert tree(tmp_path) == {f"f{i}": b"%d" % i for i in range(100)}

    def test_records_are_not_counted(self, tmp_path):
        records = pax({"comment": "c"}, fmt="gnu") + long_link(b"t")
        parts = []
        for i in range(ENTRY_LIMIT):
            parts += [records, long_name(b"top-long%d" % i), header(b"top%d" % i)]
        assert extract(gz(tar(*parts)), tmp_path) == []

    def test_pax_global_headers_are_counted(self, tmp_path):
        globals_ = [pax({"comment": "g"}, type=b"g")]
        assert extract(gz(tar(*globals_, *top_level_entries(ENTRY_LIMIT - 1))), tmp_path) == []
        assert failure(gz(tar(*globals_, *top_level_entries(ENTRY_LIMIT))), tmp_path) == ENTRY_TEXT

    @pytest.mark.parametrize("count, message", [
        (ENTRY_LIMIT - 1, "IO error: archive header checksum mismatch"),
        (ENTRY_LIMIT, ENTRY_TEXT),
    ])
    def test_at_the_limit_even_a_failed_read_reports_the_limit(self, tmp_path, count, message):
        broken = header(b"package/broken", checksum=b"0000000\0")
        assert failure(gz(tar(*top_level_entries(count), broken)), tmp_path) == message

    def test_refused_entries_are_not_counted_but_end_the_call(self, tmp_path):
        data = gz(tar(*top_level_entries(ENTRY_LIMIT), entry("package/l", type="2")))
        assert failure(data, tmp_path) == ENTRY_TEXT


class TestFileSize:
    def test_a_file_of_exactly_the_limit_is_written(self, tmp_path):
        data = zero_file_archive("package/big.bin", FILE_LIMIT)
        assert extract(data, tmp_path) == ["big.bin"]
        assert os.path.getsize(tmp_path / "big.bin") == FILE_LIMIT
        os.remove(tmp_path / "big.bin")

    def test_one_byte_more_is_refused_before_anything_is_written(self, tmp_path):
        # No data follows: the header alone decides.
        data = gz(tar(entry("package/small", b"s"), header("package/big.bin", FILE_LIMIT + 1), end=0))
        assert failure(data, tmp_path) == "IO error: file big.bin exceeds 50MB limit"
        assert tree(tmp_path) == {"small": b"s"}

    def test_the_message_names_the_relative_path(self, tmp_path):
        data = gz(tar(header("package\\deep\\er//big.bin", FILE_LIMIT + 1)))
        assert failure(data, tmp_path) == "IO error: file deep/er//big.bin exceeds 50MB limit"

    def test_base256_size_field(self, tmp_path):
        data = gz(tar(header("package/big.bin", size_field=bytes([0x80]) + (FILE_LIMIT + 1).to_bytes(11, "big"))))
        assert failure(data, tmp_path) == "IO error: file big.bin exceeds 50MB limit"

    def test_passed_over_entries_are_not_limited_by_it(self, tmp_path):
        data = zero_file_archive("package/fifo", FILE_LIMIT + 1, type="6", after=[entry("package/f", b"1")])
        assert extract(data, tmp_path) == ["f"]


class TestPaxSize:
    """A pax size record gives the data length; the limits apply to it and to the header's field."""

    @pytest.mark.parametrize("header_size, pax_size", [(10, FILE_LIMIT + 1), (FILE_LIMIT + 1, 5)])
    def test_either_size_past_the_file_limit_is_refused(self, tmp_path, header_size, pax_size):
        data = gz(tar(pax({"size": str(pax_size)}), header("package/f", header_size, fmt="ustar")))
        assert failure(data, tmp_path) == "IO error: file f exceeds 50MB limit"
        assert tree(tmp_path) == {}

    def test_data_length_follows_the_pax_record(self, tmp_path):
        data = gz(tar(pax({"size": "5"}), header("package/f", FILE_LIMIT, fmt="ustar") + b"12345" + bytes(507),
                      entry("package/g", b"g", fmt="ustar")))
        assert extract(data, tmp_path) == ["f", "g"]
        assert tree(tmp_path) == {"f": b"12345", "g": b"g"}

    def test_pax_size_past_the_64_bit_range(self, tmp_path):
        data = gz(tar(pax({"size": str(2**64)}), header("package/f", 1, fmt="ustar")))
        assert failure(data, tmp_path) == f"IO error: pax size record is not a number: {2**64}"

    @pytest.mark.parametrize("value", ["", "12a", "-1", " 1", "0x10"])
    def test_malformed_pax_size(self, tmp_path, value):
        data = gz(tar(pax({"size": value}), header("package/f", 1, fmt="ustar")))
        assert failure(data, tmp_path) == f"IO error: pax size record is not a number: {value}"


class TestTotalSize:
    """Files whose header claims the full size but whose pax record says no data follows."""

    @staticmethod
    def hollow(name, claimed):
        return pax({"size": "0"}) + header(name, claimed, fmt="ustar")

    def test_exactly_the_limit_is_accepted(self, tmp_path):
        parts = [self.hollow(f"package/f{i}", FILE_LIMIT) for i in range(10)]
        assert extract(gz(tar(*parts)), tmp_path) == [f"f{i}" for i in range(10)]

    def test_one_byte_more_fails_before_the_file_is_created(self, tmp_path):
        parts = [self.hollow(f"package/f{i}", FILE_LIMIT) for i in range(10)]
        data = gz(tar(*parts, entry("package/last", b"1", fmt="ustar")))
        assert failure(data, tmp_path) == TOTAL_TEXT
        assert sorted(os.listdir(tmp_path)) == sorted(f"f{i}" for i in range(10))

    def test_eleven_files_of_fifty_million_bytes(self, tmp_path):
        parts = [self.hollow(f"package/f{i}", 50_000_000) for i in range(11)]
        assert failure(gz(tar(*parts)), tmp_path) == TOTAL_TEXT
        assert sorted(os.listdir(tmp_path)) == sorted(f"f{i}" for i in range(10))

    def test_data_length_counts_toward_the_total(self, tmp_path):
        parts = [self.hollow(f"package/f{i}", FILE_LIMIT) for i in range(10)]
        longer = pax({"size": "1"}) + header("package/last", 0, fmt="ustar") + b"1" + bytes(511)
        assert failure(gz(tar(*parts, longer)), tmp_path) == TOTAL_TEXT

    def test_passed_over_and_top_level_files_do_not_count(self, tmp_path):
        parts = [self.hollow(f"package/f{i}", FILE_LIMIT) for i in range(10)]
        skipped = [pax({"size": "0"}) + header("top", FILE_LIMIT, fmt="ustar"),
                   pax({"size": "0"}) + header("package/dev", FILE_LIMIT, type="3", fmt="ustar"),
                   pax({"size": "0"}) + header("package/dir/", FILE_LIMIT, type="5", fmt="ustar")]
        assert extract(gz(tar(*skipped, *parts)), tmp_path) == [f"f{i}" for i in range(10)]


def record_of_size(type, size):
    """A long-name ("L"), long-link ("K") or pax ("x") record of exactly `size` bytes."""
    if type == "x":
        filler = size - 20
        while len(pax_record("comment", "c" * filler)) < size:
            filler += 1
        payload = pax_record("comment", "c" * filler)
        assert len(payload) == size
    else:
        payload = b"n" * (size - 1) + b"\0"
    return entry(b"././@LongLink", payload, type, fmt="gnu")


RECORD_TEXTS = {
    "L": "IO error: GNU long name record exceeds 1MB limit",
    "K": "IO error: GNU long link record exceeds 1MB limit",
    "x": "IO error: pax extended header exceeds 1MB limit",
}


class TestMetadataRecords:
    @pytest.mark.parametrize("type", ["L", "K", "x"])
    def test_a_record_of_one_mebibyte_is_read(self, tmp_path, type):
        # The long name is a top-level name, so the entry is passed over.
        data = gz(tar(record_of_size(type, RECORD_LIMIT), header("top"), entry("package/ok", b"1")))
        assert extract(data, tmp_path) == ["ok"]

    @pytest.mark.parametrize("type", ["L", "K", "x"])
    def test_one_byte_more_is_refused(self, tmp_path, type):
        data = gz(tar(record_of_size(type, RECORD_LIMIT + 1), header("top"), entry("package/ok", b"1")))
        assert failure(data, tmp_path) == RECORD_TEXTS[type]

    @pytest.mark.parametrize("type", ["L", "K", "x"])
    def test_a_huge_claim_is_refused_without_reading(self, tmp_path, type):
        # The record claims 8 GiB and no data follows.
        data = gz(tar(header(b"././@LongLink", 8 * GiB, type, fmt="gnu"), end=0))
        assert failure(data, tmp_path) == RECORD_TEXTS[type]


class TestPassedOverData:
    """Data read past instead of written is bounded too."""

    @pytest.mark.parametrize("parts", [
        [header("README", SKIPPED_LIMIT + 1)],
        [header("package/fifo", SKIPPED_LIMIT + 1, type="6")],
        [header("package/dev", SKIPPED_LIMIT + 1, type="4")],
        [header("package/dir/", SKIPPED_LIMIT + 1, type="5")],
        [header("package/contig", SKIPPED_LIMIT + 1, type="7")],
        [header("package/unknown", SKIPPED_LIMIT + 1, type="Q")],
        [header("package/sparse", SKIPPED_LIMIT + 1, type="S")],
        [header("pax_global_header", SKIPPED_LIMIT + 1, type="g", fmt="ustar")],
        [pax({"size": str(SKIPPED_LIMIT + 1)}), header("package/fifo", 0, type="6", fmt="ustar")],
    ], ids=["top", "fifo", "device", "dir", "contiguous", "unknown", "sparse", "global", "pax-size"])
    def test_a_single_claim_past_the_limit_fails_at_once(self, tmp_path, parts):
        assert failure(gz(tar(*parts, end=0)), tmp_path) == SKIPPED_TEXT

    def test_a_bomb_of_many_claims(self, tmp_path):
        # Forty entries of 30 MiB of zeros each come to 1.17 GiB of data from a
        # little over a megabyte of input; the call stops at the 35th.
        stream = Deflate()
        for i in range(40):
            stream.add(header(f"package/fifo{i}", 30 * MiB, type="6"))
            stream.add_zeros(30 * MiB, crc=False)
        data = gzip_member(stream)
        assert len(data) < 2 * MiB
        assert failure(data, tmp_path) == SKIPPED_TEXT

    def test_exactly_the_limit_is_read_past(self, tmp_path):
        # Metadata records count, written files do not.
        name_record = long_name(b"top-" + b"n" * 995)  # 1,000 bytes with its NUL
        data = zero_file_archive("top", SKIPPED_LIMIT - 1000, entry("package/w", b"w" * 5000), name_record,
                                 after=[entry("package/after", b"a")])
        assert extract(data, tmp_path) == ["w", "after"]

    def test_one_byte_more_fails(self, tmp_path):
        name_record = long_name(b"top-" + b"n" * 996)
        data = gz(tar(entry("package/w", b"w" * 5000), name_record, header("top", SKIPPED_LIMIT - 1000), end=0))
        assert failure(data, tmp_path) == SKIPPED_TEXT
        assert tree(tmp_path) == {"w": b"w" * 5000}


class TestPathsAndDirectories:
    """Bounds that keep deep paths cheap: the system's path length and a count of directories made."""

    def test_deep_paths_are_written(self, tmp_path):
        deep = "/".join(f"d{i}" for i in range(100))
        data = gz(tar(named(f"package/{deep}/a", b"a"), named(f"package/{deep}/b", b"b"),
                      named(f"package/{deep[:200]}/c", b"c"), named(f"package/{deep}/e/", type="5"),
                      named(f"package/{deep}/e/f", b"f")))
        assert extract(data, tmp_path) == [f"{deep}/a", f"{deep}/b", f"{deep[:200]}/c", f"{deep}/e/f"]
        assert (tmp_path / deep / "b").read_bytes() == b"b"
        assert (tmp_path / deep / "e" / "f").read_bytes() == b"f"

    @staticmethod
    def path_of_length(n):
        """A relative path of exactly n bytes made of 200-byte folder names."""
        pieces = []
        while n > 201:
            pieces.append("f" * 200)
            n -= 201
        pieces.append("g" * n)
        return "/".join(pieces)

    def test_target_path_at_the_system_limit(self, tmp_path):
        dest = str(tmp_path / "dest")
        longest = self.path_of_length(4095 - len(dest) - 1)
        assert extract(gz(tar(named("package/" + longest, b"1"))), dest) == [longest]
        too_long = self.path_of_length(4096 - len(dest) - 1)
        data = gz(tar(named("package/" + too_long, b"1")))
        assert failure(data, dest) == "IO error: " + os_text(errno.ENAMETOOLONG)
        data = gz(tar(named("package/" + too_long + "/", type="5")))
        assert failure(data, dest) == "IO error: " + os_text(errno.ENAMETOOLONG)

    def test_directories_made_are_counted(self, tmp_path):
        # Each entry makes 400 new directories; fifty make the most allowed.
        # (Chains much deeper would defeat the recursive clean-up of test folders.)
        chain = "/".join(["d"] * 399)
        entries = [named(f"package/e{i}/{chain}/", type="5") for i in range(DIRECTORY_LIMIT // 400)]
        assert extract(gz(tar(*entries)), tmp_path / "ok") == []
        data = gz(tar(*entries, entry("package/one-more/", type="5")))
        assert failure(data, tmp_path / "over") == "IO error: tarball creates more than 20000 directories"
        # Twenty thousand folders are slow to remove on some disks; do it here
        # rather than leave it to whichever later test session rotates them out.
        shutil.rmtree(tmp_path)
