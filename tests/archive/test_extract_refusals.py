"""Links, absolute paths, ".." pieces and NUL bytes refused, in the order of the checks."""

import errno

import morvane_core
import pytest
from hypothesis import given, settings, strategies as st

from archive_builders import (
    entry, extract, failure, gz, header, long_link, long_name, os_text, pax, tar, tree,
)

NUL_TEXT = "IO error: file name contained an unexpected NUL byte"


@pytest.mark.parametrize("parts, message", [
    # Links of either kind are refused whatever their target.
    ([entry("package/x", type="2", linkname=b"target")], "Symlink in tarball: package/x"),
    ([entry("package/x", type="2", linkname=b"/etc/passwd")], "Symlink in tarball: package/x"),
    ([entry("package/x", type="1", linkname=b"package/y")], "Symlink in tarball: package/x"),
    ([entry("package/x", type="1", linkname=b"../../outside")], "Symlink in tarball: package/x"),
    ([entry("top", type="2")], "Symlink in tarball: top"),
    ([long_link("t" * 300), entry("package/l", type="2")], "Symlink in tarball: package/l"),
    # The link test comes before the absolute-path and traversal tests.
    ([entry("/tmp/x", type="2")], "Symlink in tarball: /tmp/x"),
    ([entry("package/../x", type="1")], "Symlink in tarball: package/../x"),
    ([entry("/tmp/x", b"1")], "Absolute path in tarball: /tmp/x"),
    ([entry("/", type="5")], "Absolute path in tarball: /"),
    ([entry("//x", b"1")], "Absolute path in tarball: //x"),
    ([entry("/a/../b", b"1")], "Absolute path in tarball: /a/../b"),
    ([entry("/dev/null", type="3")], "Absolute path in tarball: /dev/null"),
    ([entry("package/../x", b"1")], "Path traversal in tarball: package/../x"),
    ([entry("package\\..\\x", b"1")], "Path traversal in tarball: package\\..\\x"),
    ([entry("package/a/..", type="5")], "Path traversal in tarball: package/a/.."),
    ([entry("..", type="5")], "Path traversal in tarball: .."),
    ([entry("../x", b"1")], "Path traversal in tarball: ../x"),
    ([entry("..\\x", b"1")], "Path traversal in tarball: ..\\x"),
    ([entry("package/x/..\\..\\..\\y", b"1")], "Path traversal in tarball: package/x/..\\..\\..\\y"),
    ([entry("package//../x", b"1")], "Path traversal in tarball: package//../x"),
    # Passed-over kinds are checked before they are passed over.
    ([entry("package/../fifo", type="6")], "Path traversal in tarball: package/../fifo"),
    ([entry("README/..", b"1")], "Path traversal in tarball: README/.."),
    # Long names are checked like short ones.
    ([long_name("/abs/" + "a" * 200), entry("package/short", b"1")], "Absolute path in tarball: /abs/" + "a" * 200),
    ([long_name("package/" + "b" * 200 + "/../../x"), entry("package/short", b"1")],
     "Path traversal in tarball: package/" + "b" * 200 + "/../../x"),
    ([pax({"path": "/etc/cron.d/x"}), entry("package/short", b"1", fmt="ustar")],
     "Absolute path in tarball: /etc/cron.d/x"),
    ([pax({"path": "package/../../x"}), entry("package/short", b"1", fmt="ustar")],
     "Path traversal in tarball: package/../../x"),
    ([header(b"x", fmt="ustar", prefix=b"package/..")], "Path traversal in tarball: package/../x"),
    ([header(b"etc/x", fmt="ustar", prefix=b"/")], "Absolute path in tarball: //etc/x"),
])
def test_refused_entries(tmp_path, parts, message):
    dest = tmp_path / "dest"
    assert failure(gz(tar(*parts)), dest) == message
    assert tree(tmp_path) == {"dest": None}


@pytest.mark.parametrize("name", ["package/./x", "package/..x", "package/...x", "package/x..",
                                  "package/.../y", "package/x/..y/z", "package/a..b"])
def test_pieces_that_only_look_like_dot_dot_are_accepted(tmp_path, name):
    assert extract(gz(tar(entry(name, b"1"))), tmp_path) == [name.split("/", 1)[1]]


def test_files_before_a_refused_entry_stay_on_disk(tmp_path):
    data = gz(tar(entry("package/a", b"a"), entry("package/d/", type="5"),
                  entry("package/link", type="2", linkname=b"a"), entry("package/b", b"b")))
    assert failure(data, tmp_path) == "Symlink in tarball: package/link"
    assert tree(tmp_path) == {"a": b"a", "d": None}


@pytest.mark.parametrize("parts", [
    [long_name(b"package/a\0b"), entry("package/ignored", b"1")],
    [long_name(b"package/dir\0/f"), entry("package/ignored", b"1")],
    [long_name(b"package/d\0/", ), entry("package/ignored", type="5")],
    [pax([("path", b"package/p\0q")]), entry("package/ignored", b"1", fmt="ustar")],
    # Only one trailing NUL of a long name is dropped.
    [long_name(b"package/ab\0"), entry("package/ignored", b"1")],
])
def test_nul_in_a_target_path_is_refused_before_any_system_call(tmp_path, parts):
    assert failure(gz(tar(*parts)), tmp_path / "dest") == NUL_TEXT
    assert tree(tmp_path) == {"dest": None}


def test_nul_is_checked_after_the_size_limits(tmp_path):
    data = gz(tar(long_name(b"package/a\0b"), header("package/ignored", 52_428_801)))
    assert failure(data, tmp_path) == "IO error: file a\0b exceeds 50MB limit"


def test_top_level_name_with_nul_is_passed_over(tmp_path):
    data = gz(tar(long_name(b"top\0level"), entry("ignored", b"1"), entry("package/f", b"f")))
    assert extract(data, tmp_path) == ["f"]


def test_regular_file_over_an_existing_directory(tmp_path):
    (tmp_path / "d").mkdir()
    (tmp_path / "d" / "inner").write_bytes(b"kept")
    assert failure(gz(tar(entry("package/d", b"x"))), tmp_path) == "IO error: " + os_text(errno.EISDIR)
    assert tree(tmp_path) == {"d": None, "d/inner": b"kept"}


@pytest.mark.parametrize("part, err", [
    # The folder asked for is the file: mkdir's "File exists"; the file is on
    # the way to the folder asked for: "Not a directory".
    (entry("package/f/", type="5"), errno.EEXIST),
    (entry("package/f/g", b"1"), errno.EEXIST),
    (entry("package/f/g/", type="5"), errno.ENOTDIR),
    (entry("package/f/g/x.txt", b"1"), errno.ENOTDIR),
    (entry("package/f/g/h/i/x.txt", b"1"), errno.ENOTDIR),
])
def test_a_file_where_a_folder_is_needed(tmp_path, part, err):
    (tmp_path / "f").write_bytes(b"kept")
    assert failure(gz(tar(part)), tmp_path) == "IO error: " + os_text(err)
    assert tree(tmp_path) == {"f": b"kept"}


def test_file_then_directory_of_the_same_name_in_one_archive(tmp_path):
    data = gz(tar(entry("package/x", b"1"), entry("package/x/y", b"2")))
    assert failure(data, tmp_path) == "IO error: " + os_text(errno.EEXIST)
    data = gz(tar(entry("package/y/", type="5"), entry("package/y", b"2")))
    assert failure(data, tmp_path) == "IO error: " + os_text(errno.EISDIR)


name_bytes = st.binary(min_size=1, max_size=40).filter(lambda b: b"\0" not in b and not b.endswith(b"/"))


@settings(max_examples=150, deadline=None)
@given(name=name_bytes)
def test_refusal_messages_show_the_stored_path_as_replaced_utf8(tmp_path_factory, name):
    dest = tmp_path_factory.mktemp("d")
    expected = name.decode("utf-8", "replace")
    assert failure(gz(tar(entry(name, type="2"))), dest) == "Symlink in tarball: " + expected
    assert failure(gz(tar(entry(b"/" + name, b"1"))), dest) == "Absolute path in tarball: /" + expected
    assert failure(gz(tar(entry(b"p/../" + name, b"1"))), dest) == "Path traversal in tarball: p/../" + expected


@pytest.mark.parametrize("raw, shown", [
    (b"\xc3", "\ufffd"),                   # truncated two-byte sequence
    (b"\xe2\x82", "\ufffd"),               # truncated three-byte sequence: one replacement
    (b"\xe2\x82\xac", "\u20ac"),
    (b"\xe0\x80\xaf", "\ufffd\ufffd\ufffd"),  # overlong: each byte replaced
    (b"\xed\xa0\x80", "\ufffd\ufffd\ufffd"),  # UTF-16 surrogate
    (b"\xf4\x90\x80\x80", "\ufffd\ufffd\ufffd\ufffd"),  # beyond U+10FFFF
    (b"\xf0\x9f\x98", "\ufffd"),
    (b"\xf0\x9f\x98\x80", "\U0001F600"),
    (b"\xc0\xaf", "\ufffd\ufffd"),
    (b"a\x80b", "a\ufffdb"),
])
def test_replacement_of_invalid_sequences(tmp_path, raw, shown):
    assert failure(gz(tar(entry(b"p/" + raw, type="2"))), tmp_path) == "Symlink in tarball: p/" + shown


class TestArguments:
    def test_data_must_be_bytes(self, tmp_path):
        with pytest.raises(TypeError) as e:
            morvane_core.extract_tarball(bytearray(b"x"), str(tmp_path))
        assert e.value.args == ("argument 'data': 'bytearray' object is not an instance of 'bytes'",)

    def test_dest_must_be_str(self, tmp_path):
        with pytest.raises(TypeError) as e:
            morvane_core.extract_tarball(b"", tmp_path)
        assert e.value.args == (f"argument 'dest': '{type(tmp_path).__qualname__}' object is not an instance of 'str'",)

    def test_bytes_subclass_and_keywords_are_accepted(self, tmp_path):
        class Payload(bytes):
            pass
        data = Payload(gz(tar(entry("p/f", b"1"))))
        assert morvane_core.extract_tarball(dest=str(tmp_path), data=data) == ["f"]

    def test_failure_is_a_plain_oserror(self, tmp_path):
        with pytest.raises(OSError) as e:
            morvane_core.extract_tarball(b"", str(tmp_path))
        assert type(e.value) is OSError
        assert e.value.args == ("IO error: unexpected end of file",)
        assert (e.value.errno, e.value.strerror, e.value.filename) == (None, None, None)
