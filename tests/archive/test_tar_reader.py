"""Reading the tar stream: header blocks, numeric fields, records and the end of the archive."""

import pytest

from archive_builders import (
    BLOCK, base256, entry, extract, failure, gz, header, long_link, long_name, pad, pax, tar, tree,
)

CHECKSUM_TEXT = "IO error: archive header checksum mismatch"
BLOCK_TEXT = "IO error: failed to read entire block"
SKIP_TEXT = "IO error: unexpected EOF during skip"
ORPHAN_TEXT = "IO error: members found describing a future member but no future member found"
TWO_NAMES_TEXT = "IO error: two long name entries describing the same member"
TWO_PAX_TEXT = "IO error: two pax extensions entries describing the same member"
OVERFLOW_TEXT = "IO error: size overflow"
SPARSE_TEXT = "IO error: sparse entry type listed but not GNU header"


def flipped(block, offset):
    return block[:offset] + bytes([block[offset] ^ 0x01]) + block[offset + 1:]


class TestChecksum:
    @pytest.mark.parametrize("offset", [0, 100, 124, 156, 257, 300, 511])
    def test_any_changed_byte_is_a_mismatch(self, tmp_path, offset):
        data = gz(tar(flipped(header("package/f", 0), offset)))
        assert failure(data, tmp_path) == CHECKSUM_TEXT

    @pytest.mark.parametrize("form", ["%06o\0 ", "%07o\0", "%o", " %o ", "%08o", "%06o  "])
    def test_written_forms(self, tmp_path, form):
        block = bytearray(header("package/f", 1))
        block[148:156] = b" " * 8
        text = (form % sum(block)).encode()
        block[148:156] = text.ljust(8, b"\0") if len(text) < 8 else text
        assert extract(gz(tar(bytes(block) + pad(b"x"))), tmp_path) == ["f"]

    @pytest.mark.parametrize("field, message", [
        (b"12x\0    ", "IO error: numeric field was not a number: 12x when getting cksum for package/f"),
        (b" 12 34\0 ", "IO error: numeric field was not a number:  12 34 when getting cksum for package/f"),
        (b"\0" * 8, "IO error: numeric field was not a number:  when getting cksum for package/f"),
        (b" " * 8, "IO error: numeric field was not a number:          when getting cksum for package/f"),
        (b"00001238", "IO error: numeric field was not a number: 00001238 when getting cksum for package/f"),
        (b"-0001234", "IO error: numeric field was not a number: -0001234 when getting cksum for package/f"),
        (b"\xff1234\0  ", "IO error: numeric field did not have utf-8 text: \ufffd1234 when getting cksum for package/f"),
    ])
    def test_checksum_field_that_is_not_octal(self, tmp_path, field, message):
        assert failure(gz(tar(header("package/f", 0, checksum=field))), tmp_path) == message


class TestSizeField:
    @pytest.mark.parametrize("field, content", [
        (b"00000000003\0", b"abc"),
        (b"3\0" + b"\0" * 10, b"abc"),
        (b"   3 \0      ", b"abc"),
        (b"00000000003 ", b"abc"),
        (b"3" + b" " * 11, b"abc"),
        (b"\t3\n\0" + b"x" * 8, b"abc"),
        (base256(3), b"abc"),
        (bytes([0x80]) + b"\xff" * 3 + (5).to_bytes(8, "big"), b"abcde"),  # only the last eight bytes count
        (b"0" * 12, b""),
    ])
    def test_accepted_forms(self, tmp_path, field, content):
        data = gz(tar(header("package/f", size_field=field) + pad(content), entry("package/g", b"g")))
        assert extract(data, tmp_path) == ["f", "g"]
        assert tree(tmp_path) == {"f": content, "g": b"g"}

    @pytest.mark.parametrize("field, shown", [
        (b"12x\0" + b"\0" * 8, "was not a number: 12x"),
        (b"\0" * 12, "was not a number: "),
        (b" " * 12, "was not a number: " + " " * 12),
        (b"8" + b"\0" * 11, "was not a number: 8"),
        (b"+7" + b"\0" * 10, "was not a number: +7"),
        (b"1 2\0" + b"\0" * 8, "was not a number: 1 2"),
        (b"1\xff\0" + b"\0" * 9, "did not have utf-8 text: 1\ufffd"),
        (b"\x7f\xc3\0" + b"\0" * 9, "did not have utf-8 text: \x7f\ufffd"),
    ])
    def test_size_field_that_is_not_octal(self, tmp_path, field, shown):
        message = f"IO error: numeric field {shown} when getting size for package/f"
        assert failure(gz(tar(header("package/f", size_field=field))), tmp_path) == message

    @pytest.mark.parametrize("parts, block, shown", [
        # The path comes from the header's own name fields, never a long name or pax path.
        ([long_name("package/long-name")], header("package/short", size_field=b"z\0" + bytes(10)), "package/short"),
        ([pax({"path": "package/pax"}, fmt="gnu")], header("package/short", size_field=b"z\0" + bytes(10)),
         "package/short"),
        ([], header("name", fmt="ustar", prefix=b"pre/fix", size_field=b"z\0" + bytes(10)), "pre/fix/name"),
        ([], header("name", fmt="ustar", size_field=b"z\0" + bytes(10)), "name"),
        ([], header("name", fmt="v7", size_field=b"z\0" + bytes(10)), "name"),
    ])
    def test_message_path(self, tmp_path, parts, block, shown):
        data = gz(tar(*parts, block))
        assert failure(data, tmp_path) == f"IO error: numeric field was not a number: z when getting size for {shown}"

    def test_message_path_that_is_not_utf8(self, tmp_path):
        data = gz(tar(header(b"p/\xe9", size_field=b"z" * 12)))
        assert failure(data, tmp_path) == f"IO error: numeric field was not a number: {'z' * 12} when getting size for p/\ufffd"

    @pytest.mark.parametrize("size", [2**64 - 1, 2**64 - 511, 2**64 - 512])
    def test_size_past_the_64_bit_position(self, tmp_path, size):
        data = gz(tar(header("package/f", size_field=base256(size))))
        assert failure(data, tmp_path) == OVERFLOW_TEXT

    def test_position_counts_earlier_entries(self, tmp_path):
        # After one header the next data may span 2^64 - 1024 bytes (and is
        # then refused for its size); after an entry of one data block, it may not.
        huge = header("package/fifo", type="6", size_field=base256(2**64 - 1024))
        assert failure(gz(tar(huge, end=0)), tmp_path) == "IO error: skipped entry data exceeds 1GB limit"
        assert failure(gz(tar(entry("top", b"x"), huge, end=0)), tmp_path) == OVERFLOW_TEXT

    def test_pax_size_past_the_64_bit_position(self, tmp_path):
        data = gz(tar(pax({"size": str(2**64 - 1)}), header("package/fifo", 0, type="6", fmt="ustar")))
        assert failure(data, tmp_path) == OVERFLOW_TEXT

    def test_a_malformed_size_is_reported_before_the_link_test(self, tmp_path):
        data = gz(tar(header("package/l", type="2", size_field=b"q" * 12)))
        assert failure(data, tmp_path) == "IO error: numeric field was not a number: " + "q" * 12 + " when getting size for package/l"


class TestTruncation:
    def test_inside_a_header_block(self, tmp_path):
        data = gz(entry("package/a", b"a") + header("package/b", 1)[:300])
        assert failure(data, tmp_path) == BLOCK_TEXT
        assert tree(tmp_path) == {"a": b"a"}

    @pytest.mark.parametrize("keep", [1, 511])
    def test_first_block_cut_short(self, tmp_path, keep):
        assert failure(gz(header("package/a", 0)[:keep]), tmp_path) == BLOCK_TEXT

    def test_inside_the_data_of_a_written_file(self, tmp_path):
        content = bytes(range(256)) * 8
        data = gz(header("package/f", len(content)) + content[:1000])
        assert failure(data, tmp_path) == SKIP_TEXT
        # What was copied stays on disk.
        assert tree(tmp_path) == {"f": content[:1000]}

    def test_inside_the_data_of_a_passed_over_entry(self, tmp_path):
        data = gz(header("README", 5000) + bytes(3000))
        assert failure(data, tmp_path) == SKIP_TEXT

    @pytest.mark.parametrize("padding", [0, 1, 411])
    def test_inside_the_padding(self, tmp_path, padding):
        data = gz(header("package/f", 100) + b"x" * 100 + bytes(padding))
        assert failure(data, tmp_path) == SKIP_TEXT
        assert tree(tmp_path) == {"f": b"x" * 100}

    @pytest.mark.parametrize("record", [long_name("package/" + "n" * 600), long_link("t" * 600),
                                        pax({"path": "package/" + "p" * 600})])
    def test_inside_a_record(self, tmp_path, record):
        assert failure(gz(record[:BLOCK + 300]), tmp_path) == SKIP_TEXT


class TestRecords:
    @pytest.mark.parametrize("record", [long_name("package/x"), long_link("target"), pax({"path": "package/x"})])
    @pytest.mark.parametrize("end", [0, 1, 2])
    def test_record_without_an_entry(self, tmp_path, record, end):
        data = gz(tar(entry("package/first", b"1"), record, end=end))
        assert failure(data, tmp_path) == ORPHAN_TEXT
        assert tree(tmp_path) == {"first": b"1"}

    @pytest.mark.parametrize("parts, message", [
        ([long_name("package/a"), long_name("package/b")], TWO_NAMES_TEXT),
        ([long_link("a"), long_link("b")], TWO_NAMES_TEXT),
        ([long_name("package/a"), long_link("x"), long_name("package/b")], TWO_NAMES_TEXT),
        ([long_link("x"), pax({"path": "package/p"}), long_link("y")], TWO_NAMES_TEXT),
        ([pax({"path": "package/a"}), pax({"path": "package/b"})], TWO_PAX_TEXT),
        ([pax({}), long_name("package/n"), pax({})], TWO_PAX_TEXT),
    ])
    def test_two_records_of_one_kind_before_an_entry(self, tmp_path, parts, message):
        data = gz(tar(*parts, entry("package/f", b"1")))
        assert failure(data, tmp_path) == message

    def test_one_record_of_each_kind_is_accepted(self, tmp_path):
        data = gz(tar(long_link("t"), pax({"size": "1"}), long_name("package/named"), entry("package/f", b"1")))
        assert extract(data, tmp_path) == ["named"]

    def test_records_describe_only_the_next_entry(self, tmp_path):
        data = gz(tar(long_name("package/renamed"), pax({"size": "2"}), header("package/a", 0, fmt="ustar") + pad(b"aa"),
                      entry("package/b", b"b")))
        assert extract(data, tmp_path) == ["renamed", "b"]
        assert tree(tmp_path) == {"renamed": b"aa", "b": b"b"}

    def test_records_apply_to_a_pax_global_header(self, tmp_path):
        # The global header is an ordinary entry, so it takes the pending long name.
        data = gz(tar(long_name("package/n"), pax({"comment": "g"}, type=b"g"), entry("package/f", b"1")))
        assert extract(data, tmp_path) == ["f"]

    def test_empty_records(self, tmp_path):
        data = gz(tar(long_name(b""), entry("package/f", b"1")))  # a name of one NUL byte
        assert extract(data, tmp_path) == []
        data = gz(tar(pax(b""), entry("package/f", b"1", fmt="ustar")))
        assert extract(data, tmp_path) == ["f"]


class TestSparse:
    def sparse_header(self, name, size, fmt="gnu", extended=False):
        return header(name, size, type="S", fmt=fmt, extra={482: b"\1" if extended else b"\0"})

    @pytest.mark.parametrize("fmt", ["ustar", "v7"])
    def test_sparse_entry_needs_a_gnu_header(self, tmp_path, fmt):
        assert failure(gz(tar(self.sparse_header("package/s", 0, fmt=fmt))), tmp_path) == SPARSE_TEXT

    def test_sparse_entry_is_passed_over_with_its_extension_blocks(self, tmp_path):
        extension = bytearray(BLOCK)
        extension[504] = 1
        last = bytes(BLOCK)
        data = gz(tar(self.sparse_header("package/s", 700, extended=True), bytes(extension), bytes(extension),
                      last, pad(b"s" * 700), entry("package/after", b"a")))
        assert extract(data, tmp_path) == ["after"]
        assert tree(tmp_path) == {"after": b"a"}

    def test_missing_extension_block(self, tmp_path):
        data = gz(self.sparse_header("package/s", 0, extended=True))
        assert failure(data, tmp_path) == BLOCK_TEXT


class TestEndOfArchive:
    def test_one_zero_block_ends_the_archive(self, tmp_path):
        data = gz(tar(entry("package/a", b"a"), end=1) + b"\xffnot a header" * 100)
        assert extract(data, tmp_path) == ["a"]

    def test_entries_after_the_end_block_are_not_read(self, tmp_path):
        data = gz(tar(entry("package/a", b"a"), end=1) + entry("package/b", b"b") + entry("package/l", type="2"))
        assert extract(data, tmp_path) == ["a"]
        assert tree(tmp_path) == {"a": b"a"}

    def test_stream_ending_on_a_block_boundary(self, tmp_path):
        assert extract(gz(tar(entry("package/a", b"a"), end=0)), tmp_path) == ["a"]

    @pytest.mark.parametrize("content", [b"", bytes(BLOCK), bytes(2 * BLOCK), bytes(10240)])
    def test_archives_without_entries(self, tmp_path, content):
        assert extract(gz(content), tmp_path / "d") == []
        assert tree(tmp_path) == {"d": None}

    def test_short_zero_tail_is_a_cut_block(self, tmp_path):
        assert failure(gz(tar(entry("package/a", b"a"), end=0) + bytes(100)), tmp_path) == BLOCK_TEXT
