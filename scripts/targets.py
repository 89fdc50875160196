"""The release targets of scripts/targets.txt, for Python (scripts/targets.sh
reads them for bash).

    import targets
    targets.rows()           every target: {"triple": ..., "wheel": ..., ...}
    targets.line("KEY")      the words of the table's "KEY:" line
    targets.places(row)      [(place, extent), ...] of a row's tested column
    targets.processors()     {"x86_64": {"machine": "x86_64", "elf": "62", ...}, ...}
    targets.processor(row)   the processor of a row (its triple's first part)
"""

import pathlib

TABLE = pathlib.Path(__file__).with_name("targets.txt")
COLUMNS = ("triple", "wheel", "platform", "check", "debarch", "crypto", "inflater", "python", "libc_file", "loader", "tested")


def _lines():
    for line in TABLE.read_text().splitlines():
        words = line.split()
        if words and not words[0].startswith("#"):
            yield words


def rows():
    found = [dict(zip(COLUMNS, words)) for words in _lines() if not words[0].endswith(":")]
    assert all(len(row) == len(COLUMNS) for row in found), f"a row of {TABLE} lacks a column"
    return found


def line(key):
    return next(words[1:] for words in _lines() if words[0] == f"{key}:")


def places(row):
    return [tuple(item.split(":")) for item in row["tested"].split(",") if item != "-"]


def processors():
    return {words[1]: dict(field.split("=", 1) for field in words[2:])
            for words in _lines() if words[0] == "processor:"}


def processor(row):
    return processors()[row["triple"].split("-")[0]]
