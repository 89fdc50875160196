"""Where entries land, what is written and what is passed over."""

import os
import random
import stat

import pytest

from archive_builders import (
    MiB, entry, extract, failure, gz, header, long_name, named, os_text, pad, pax, pax_record, tar, tree,
)


def test_package_folder_is_dropped_and_missing_folders_are_created(tmp_path):
    data = gz(tar(entry("package/", type="5"),
                  entry("package/index.js", b"module.exports = 1;\n"),
                  entry("package/lib/util.js", b"util")))
    assert extract(data, tmp_path / "out") == ["index.js", "lib/util.js"]
    assert tree(tmp_path / "out") == {
        "index.js": b"module.exports = 1;\n", "lib": None, "lib/util.js": b"util"}


def test_result_lists_files_in_archive_order_and_not_directories(tmp_path):
    data = gz(tar(entry("p/z.txt", b"z"), entry("p/d/", type="5"), entry("p/a.txt", b"a"),
                  entry("p/d/e/", type="5")))
    assert extract(data, tmp_path) == ["z.txt", "a.txt"]
    assert tree(tmp_path) == {"z.txt": b"z", "a.txt": b"a", "d": None, "d/e": None}


@pytest.mark.parametrize("name", [b"README", b"package", b"package/", b"package//", b"p///", b""])
def test_entries_without_a_relative_path_are_passed_over(tmp_path, name):
    data = gz(tar(entry(name, b"top level data"), entry("package/kept", b"k")))
    assert extract(data, tmp_path) == ["kept"]
    assert tree(tmp_path) == {"kept": b"k"}


@pytest.mark.parametrize("name, listed, on_disk", [
    ("package/a\\b.txt", "a/b.txt", {"a": None, "a/b.txt": b"x"}),
    ("\\etc\\passwd", "etc/passwd", {"etc": None, "etc/passwd": b"x"}),
    ("package\\sub\\file", "sub/file", {"sub": None, "sub/file": b"x"}),
    ("package/./x", "./x", {"x": b"x"}),
    ("package/..x", "..x", {"..x": b"x"}),
    ("package/...x", "...x", {"...x": b"x"}),
    ("package/a/./b", "a/./b", {"a": None, "a/b": b"x"}),
    ("package/a//b", "a//b", {"a": None, "a/b": b"x"}),
    # Slashes that would start the relative path are dropped.
    ("package//x", "x", {"x": b"x"}),
    ("package/\\x", "x", {"x": b"x"}),
    ("package///\\\\d/x", "d/x", {"d": None, "d/x": b"x"}),
])
def test_relative_path_and_its_place_under_dest(tmp_path, name, listed, on_disk):
    dest = tmp_path / "dest"
    assert extract(gz(tar(entry(name.encode(), b"x"))), dest) == [listed]
    assert tree(dest) == on_disk
    assert sorted(os.listdir(tmp_path)) == ["dest"]


def test_same_path_twice_is_overwritten_and_listed_twice(tmp_path):
    data = gz(tar(entry("p/f", b"first, longer content"), entry("p/f", b"second")))
    assert extract(data, tmp_path) == ["f", "f"]
    assert tree(tmp_path) == {"f": b"second"}


def test_existing_files_in_dest_are_replaced_and_others_kept(tmp_path):
    (tmp_path / "f").write_bytes(b"old content that is longer")
    (tmp_path / "other").write_bytes(b"untouched")
    assert extract(gz(tar(entry("p/f", b"new"))), tmp_path) == ["f"]
    assert tree(tmp_path) == {"f": b"new", "other": b"untouched"}


@pytest.mark.parametrize("type", [b"3", b"4", b"6", b"7", b"Z", b"D", b"V", b"g", b"M"])
def test_other_entry_kinds_are_passed_over_with_their_data(tmp_path, type):
    data = gz(tar(entry("package/special", b"data of the special entry" * 50, type=type),
                  entry("package/after", b"after")))
    assert extract(data, tmp_path) == ["after"]
    assert tree(tmp_path) == {"after": b"after"}


def test_regular_file_with_nul_type_flag_is_written(tmp_path):
    assert extract(gz(tar(entry("p/old", b"v7 file", type=b"\0", fmt="v7"))), tmp_path) == ["old"]
    assert tree(tmp_path) == {"old": b"v7 file"}


def test_directory_entry_with_data_skips_the_data(tmp_path):
    data = gz(tar(entry("p/d/", b"x" * 700, type="5"), entry("p/d/f", b"f")))
    assert extract(data, tmp_path) == ["d/f"]
    assert tree(tmp_path) == {"d": None, "d/f": b"f"}


@pytest.mark.parametrize("size", [0, 1, 511, 512, 513, 32 * 1024, 256 * 1024 - 1, 256 * 1024,
                                  256 * 1024 + 1, 3 * MiB + 7])
def test_file_data_is_copied_exactly(tmp_path, size):
    rng = random.Random(size)
    content = rng.randbytes(size)
    data = gz(tar(entry("p/small", b"s" * 100), entry("p/blob", content), entry("p/tail", b"t")))
    assert extract(data, tmp_path) == ["small", "blob", "tail"]
    assert tree(tmp_path) == {"small": b"s" * 100, "blob": content, "tail": b"t"}


def test_many_files_across_many_folders(tmp_path):
    rng = random.Random(7)
    files = {}
    parts = []
    for i in range(300):
        depth = rng.randrange(0, 5)
        folder = "/".join(f"d{rng.randrange(3)}" for _ in range(depth))
        name = f"{folder}/f{i}" if folder else f"f{i}"
        files[name] = rng.randbytes(rng.randrange(0, 3000))
        parts.append(entry(f"package/{name}", files[name]))
    assert extract(gz(tar(*parts)), tmp_path) == list(files)
    on_disk = {k: v for k, v in tree(tmp_path).items() if v is not None}
    assert on_disk == files


DEPTH = 200


@pytest.mark.parametrize("chains, existing", [
    (["a/"], 0),           # a fresh chain, a new folder at its foot for every entry
    (["a/", "b/"], 0),     # two chains taking turns
    (["a/"], DEPTH - 50),  # most of the chain already there
])
def test_deep_folders_are_found_and_created(tmp_path, chains, existing):
    if existing:
        os.makedirs(tmp_path / ("a/" * existing))
    rels = [f"{chains[i % len(chains)] * DEPTH}{i}/f" for i in range(10)]
    # Files higher up the chain, after deeper ones, and directory entries.
    rels += ["a/g1", "a/" * 120 + "g120", "a/" * DEPTH + "3/g", "a/a/g2", "a/ab/g3"]
    parts = [named("package/" + rel, rel[-8:].encode()) for rel in rels]
    parts.insert(5, named("package/" + "a/" * 90 + "dir/", type="5"))
    assert extract(gz(tar(*parts)), tmp_path) == rels
    on_disk = {os.path.relpath(os.path.join(d, f), tmp_path): open(os.path.join(d, f), "rb").read()
               for d, _, files in os.walk(tmp_path) for f in files}
    assert on_disk == {rel: rel[-8:].encode() for rel in rels}
    assert os.path.isdir(tmp_path / ("a/" * 90 + "dir"))


def test_permission_bits_and_times_do_not_come_from_the_archive(tmp_path):
    umask = os.umask(0o022)
    try:
        data = gz(tar(entry("p/d/", type="5", extra={100: b"0000700\0"}),
                      entry("p/d/f", b"x", extra={100: b"0004777\0", 136: b"00000000001\0"})))
        assert extract(data, tmp_path) == ["d/f"]
    finally:
        os.umask(umask)
    assert stat.S_IMODE(os.stat(tmp_path / "d").st_mode) == 0o755
    assert stat.S_IMODE(os.stat(tmp_path / "d" / "f").st_mode) == 0o644
    assert os.stat(tmp_path / "d" / "f").st_mtime > 1_000_000


def test_names_that_are_not_utf8_land_under_their_replacement_text(tmp_path):
    raw = b"package/caf\xe9/\xff\xfe.txt"
    assert extract(gz(tar(entry(raw, b"x"))), tmp_path) == ["caf\ufffd/\ufffd\ufffd.txt"]
    assert tree(tmp_path) == {"caf\ufffd": None, "caf\ufffd/\ufffd\ufffd.txt": b"x"}


def test_regular_file_named_as_a_directory_fails_like_the_system(tmp_path):
    assert failure(gz(tar(entry("p/d/", b"", type="0"))), tmp_path) == "IO error: " + os_text(21)


class TestDest:
    def test_missing_ancestors_are_created(self, tmp_path):
        dest = tmp_path / "a" / "b" / "c"
        assert extract(gz(tar(entry("p/f", b"1"))), dest) == ["f"]
        assert tree(tmp_path) == {"a": None, "a/b": None, "a/b/c": None, "a/b/c/f": b"1"}

    def test_empty_dest_is_the_current_directory(self, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        assert extract(gz(tar(entry("p/sub/f", b"1"))), "") == ["sub/f"]
        assert tree(tmp_path) == {"sub": None, "sub/f": b"1"}

    def test_dest_that_is_a_file_fails_with_file_exists(self, tmp_path):
        (tmp_path / "file").write_bytes(b"keep")
        assert failure(gz(tar()), tmp_path / "file") == "IO error: " + os_text(17)
        assert (tmp_path / "file").read_bytes() == b"keep"

    @pytest.mark.parametrize("data, message", [
        (b"", "IO error: unexpected end of file"),
        (tar(entry("package/f", b"1")), "IO error: invalid gzip header"),
    ])
    def test_dest_is_created_before_the_archive_is_read(self, tmp_path, data, message):
        assert failure(data, tmp_path / "made") == message
        assert tree(tmp_path) == {"made": None}

    @pytest.mark.parametrize("content", [b"", tar()])
    def test_archive_without_entries_leaves_dest_empty(self, tmp_path, content):
        assert extract(gz(content), tmp_path / "made") == []
        assert tree(tmp_path) == {"made": None}

    def test_dest_with_a_nul_is_refused_before_anything_is_created(self, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        for dest in ["out\0x", "\0", "a/b\0/c"]:
            assert failure(gz(tar(entry("p/f", b"1"))), dest) == (
                "IO error: file name contained an unexpected NUL byte")
        assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("block, listed", [
    (header(b"index.js", 2, fmt="ustar", prefix=b"package/lib"), "lib/index.js"),
    # GNU headers keep access times and sparse data where ustar has its prefix;
    # old headers have nothing there.
    (header(b"package/index.js", 2, fmt="gnu", extra={345: b"00000000000\0"}), "index.js"),
    (header(b"package/index.js", 2, fmt="v7", extra={345: b"junk/prefix"}), "index.js"),
])
def test_the_prefix_field_counts_in_ustar_headers_only(tmp_path, block, listed):
    assert extract(gz(tar(block + pad(b"js"))), tmp_path) == [listed]


def test_gnu_long_name_drops_one_trailing_nul(tmp_path):
    data = gz(tar(long_name("package/" + "x" * 150), entry("short-name-ignored", b"data")))
    assert extract(data, tmp_path) == ["x" * 150]


def test_long_name_takes_precedence_over_pax_path(tmp_path):
    data = gz(tar(pax({"path": "package/from-pax"}, fmt="gnu"), long_name("package/from-long-name"),
                  entry("package/from-header", b"1")))
    assert extract(data, tmp_path) == ["from-long-name"]


def test_pax_path_and_size_records(tmp_path):
    data = gz(tar(pax([("comment", "c"), ("path", "package/real"), ("path", "package/second"),
                       ("size", "3")]),
                  header("package/header-name", 999, fmt="ustar") + pad(b"abc"),
                  entry("package/next", b"n", fmt="ustar")))
    assert extract(data, tmp_path) == ["real", "next"]
    assert tree(tmp_path) == {"real": b"abc", "next": b"n"}


def test_unparsable_pax_records_are_ignored_when_looking_for_the_path(tmp_path):
    payload = b"12 noequals\n" + b"11 key=val!" + pax_record("path", "package/found")
    data = gz(tar(pax(payload), entry("package/header", b"1", fmt="ustar")))
    assert extract(data, tmp_path) == ["found"]


def test_pax_records_after_a_broken_length_are_not_read(tmp_path):
    payload = b"x5 a=b\n" + pax_record("path", "package/hidden")
    data = gz(tar(pax(payload), entry("package/header", b"1", fmt="ustar")))
    assert extract(data, tmp_path) == ["header"]


def test_records_in_old_headers_are_ordinary_entries(tmp_path):
    data = gz(tar(entry("package/L", b"package/not-a-name\0", type="L", fmt="v7"),
                  entry("package/x", b"11 path=zz\n", type="x", fmt="v7"),
                  entry("package/f", b"1", fmt="v7")))
    assert extract(data, tmp_path) == ["f"]
    assert tree(tmp_path) == {"f": b"1"}

