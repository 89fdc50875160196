"""Syntax errors: every message of the reader, with the line and column of the error."""

import pytest

# The prefix of a valid document, 30 bytes, after which a skill map is read.
P = '{"lockfileVersion":1,"skills":'
assert len(P) == 30


# (text, message, line, column)
SYNTAX_ERRORS = [
    # End of text where a value, an object, a list or a string goes on.
    ("", "EOF while parsing a value", 1, 0),
    (" \t\r\n  ", "EOF while parsing a value", 2, 2),
    ("{", "EOF while parsing an object", 1, 1),
    ('{"lockfileVersion"', "EOF while parsing an object", 1, 18),
    ('{"lockfileVersion":', "EOF while parsing a value", 1, 19),
    ('{"lockfileVersion":1', "EOF while parsing an object", 1, 20),
    ('{"lockfileVersion":1,', "EOF while parsing a value", 1, 21),
    ('{"lockfileVersion":1,"skills":{"a"', "EOF while parsing an object", 1, 34),
    ("[1,{}", "EOF while parsing a list", 1, 5),
    ("[1,", "EOF while parsing a value", 1, 3),
    ("[1,{},", "EOF while parsing a value", 1, 6),
    ('{"x":[[1],', "EOF while parsing a value", 1, 10),
    ('{"x":[[1]', "EOF while parsing a list", 1, 9),
    ('{"x":{"a":[]', "EOF while parsing an object", 1, 12),
    ('{"lockfileVersion":1,"skills":{"a":{"resolved":"1.0', "EOF while parsing a string", 1, 51),
    ('{"x":"ab\\', "EOF while parsing a string", 1, 9),
    ('{"x":"\\u12', "EOF while parsing a string", 1, 10),
    ('{"x":"\\uD800', "EOF while parsing a string", 1, 12),
    ('{"x":"\\uD800\\', "EOF while parsing a string", 1, 13),
    ('{"x":nul', "EOF while parsing a value", 1, 8),
    ('{"x":-', "EOF while parsing a value", 1, 6),
    ('{"x":1.', "EOF while parsing a value", 1, 7),
    ('{"x":1e', "EOF while parsing a value", 1, 7),
    ('{"x":1E-', "EOF while parsing a value", 1, 8),
    # A byte that starts no value.
    ("x", "expected value", 1, 1),
    ('{"x": }', "expected value", 1, 7),
    ('{"x":[1,}', "expected value", 1, 9),
    ("\ufeff{}", "expected value", 1, 1),
    ('{"lockfileVersion":\f1', "expected value", 1, 20),
    ('{"x":\'a\'}', "expected value", 1, 6),
    ('{"x":+1}', "expected value", 1, 6),
    ('{"x":.5}', "expected value", 1, 6),
    ('{"x":NaN}', "expected value", 1, 6),
    ('{"x":[[[[', "EOF while parsing a list", 1, 9),
    # Literals.
    ('{"lockfileVersion":nul}', "expected ident", 1, 23),
    ('{"x": trUe}', "expected ident", 1, 9),
    ('{"x":fals}', "expected ident", 1, 10),
    ('{"lockfileVersion":1,"skills":{"a":{"resolved":"r","integrity":"i","permissions":{"subprocess":tru}}}}',
     "expected ident", 1, 99),
    # Separators.
    ('{"lockfileVersion" 1}', "expected `:`", 1, 20),
    ('{"x",1}', "expected `:`", 1, 5),
    ('{"lockfileVersion":1 "skills":{}}', "expected `,` or `}`", 1, 22),
    ('{"lockfileVersion":1 /*c*/}', "expected `,` or `}`", 1, 22),
    ('{"x":{"a":1 "b":2}}', "expected `,` or `}`", 1, 13),
    ('{"x":[1 2]}', "expected `,` or `]`", 1, 9),
    ("[1 {}]", "expected `,` or `]`", 1, 4),
    ("[1,{} 2]", "expected `,` or `]`", 1, 7),
    (P + '{"a":["r","i",{},null,{} 1]}}', "expected `,` or `]`", 1, 56),
    ('{"x":[1}', "expected `,` or `]`", 1, 8),
    ('{"x":{"a":1]}', "expected `,` or `}`", 1, 12),
    # Keys.
    ("{1:2}", "key must be a string", 1, 2),
    ('{"lockfileVersion":1,2:3}', "key must be a string", 1, 22),
    (P + "{a:1}}", "key must be a string", 1, 32),
    ('{"x":{null:1}}', "key must be a string", 1, 7),
    ('{"x":{"a":1,2:1}}', "key must be a string", 1, 13),
    # Trailing commas, trailing characters.
    ('{"lockfileVersion":1,}', "trailing comma", 1, 22),
    ('{"lockfileVersion":1 , }', "trailing comma", 1, 24),
    ("[1,{},]", "trailing comma", 1, 7),
    ('{"x":[1,]}', "trailing comma", 1, 9),
    ('{"x":{"a":1,}}', "trailing comma", 1, 13),
    (P + '{"a":{"resolved":"r","integrity":"i","permissions":{},"dependencies":{"d":"1",}}}}', "trailing comma", 1, 109),
    ('{"lockfileVersion":1,"skills":{}}x', "trailing characters", 1, 34),
    ('{"lockfileVersion":1,"skills":{}} \n x', "trailing characters", 2, 2),
    ('{"lockfileVersion":1,"skills":{}}{}', "trailing characters", 1, 34),
    ("[1,{},2]", "trailing characters", 1, 7),
    ("[1,{}, null ]", "trailing characters", 1, 8),
    # Escapes.
    ('{"x":"\\q"}', "invalid escape", 1, 8),
    ('{"x":"\\U0041"}', "invalid escape", 1, 8),
    ('{"x":"\\u12G4"}', "invalid escape", 1, 11),
    ('{"x":"\\u 123"}', "invalid escape", 1, 9),
    ('{"\\x":1}', "invalid escape", 1, 4),
    # Numbers.
    ('{"x":01}', "invalid number", 1, 7),
    ('{"x":-01}', "invalid number", 1, 8),
    ('{"x":00}', "invalid number", 1, 7),
    ('{"x":-a}', "invalid number", 1, 7),
    ('{"x":-}', "invalid number", 1, 7),
    ('{"x":1.e5}', "invalid number", 1, 8),
    ('{"x":1.}', "invalid number", 1, 8),
    ('{"x":1e+}', "invalid number", 1, 9),
    ('{"x":1ee}', "invalid number", 1, 8),
    ('{"lockfileVersion":-x}', "invalid number", 1, 21),
    # Raw control bytes inside strings; a line feed counts towards the line.
    ('{"x":"a\tb"}', "control character (\\u0000-\\u001F) found while parsing a string", 1, 8),
    ('{"x":"a\x00"}', "control character (\\u0000-\\u001F) found while parsing a string", 1, 8),
    ('{"x":"\x1f"}', "control character (\\u0000-\\u001F) found while parsing a string", 1, 7),
    ('{"x":"a\nb"}', "control character (\\u0000-\\u001F) found while parsing a string", 2, 0),
    ('{"a\rb":1}', "control character (\\u0000-\\u001F) found while parsing a string", 1, 4),
    # Surrogates: a trailing one alone, or a leading one not followed by one.
    ('{"x":"\\uDC00"}', "lone leading surrogate in hex escape", 1, 12),
    ('{"x":"\\udfff"}', "lone leading surrogate in hex escape", 1, 12),
    ('{"x":"\\uD800\\u0041"}', "lone leading surrogate in hex escape", 1, 18),
    ('{"x":"\\uD800\\uD800"}', "lone leading surrogate in hex escape", 1, 18),
    ('{"x":"\\uD800x"}', "unexpected end of hex escape", 1, 13),
    ('{"x":"\\uDBFF"}', "unexpected end of hex escape", 1, 13),
    ('{"x":"\\uD800\\n"}', "unexpected end of hex escape", 1, 14),
]


@pytest.mark.parametrize("text, message, line, column", SYNTAX_ERRORS)
def test_syntax_error(json_error, text, message, line, column):
    assert json_error(text) == f"{message} at line {line} column {column}"


# Positions count line feeds and bytes: carriage returns are bytes of their
# line, and a multi-byte character counts each of its bytes.
POSITIONS = [
    ("{\n\"lockfileVersion\": 1\n}", "missing field `skills`", 3, 1),
    ("{\r\n\"lockfileVersion\": x", "expected value", 2, 20),
    ('{"x":"日本語" y}', "expected `,` or `}`", 1, 18),
    ('{"x":"é\t"}', "control character (\\u0000-\\u001F) found while parsing a string", 1, 9),
    ('{"é":"\\q"}', "invalid escape", 1, 9),
    ('{"\U0001F600":1,\n "\U0001F600": 01}', "invalid number", 2, 11),
    ('{\n  "lockfileVersion": 1,\n  "skills": {\n    "é": 5\n  }\n}',
     "invalid type: integer `5`, expected struct LockEntry", 4, 11),
    ("\n\n\n\n", "EOF while parsing a value", 5, 0),
    ('{"lockfileVersion":1,"skills":{}}\n\n  \n ]', "trailing characters", 4, 2),
    ('{"x":"line\\nescape stays on one line" !}', "expected `,` or `}`", 1, 39),
]


@pytest.mark.parametrize("text, message, line, column", POSITIONS)
def test_position_after_multi_line_and_multi_byte_text(json_error, text, message, line, column):
    assert json_error(text) == f"{message} at line {line} column {column}"


def test_read_reports_the_same_error_as_os_error(tmp_path):
    import morvane_core

    path = tmp_path / "bad.lock"
    path.write_bytes('{"x":"日本語" y}'.encode())
    with pytest.raises(OSError) as info:
        morvane_core.read_lockfile(str(path))
    assert type(info.value) is OSError
    assert info.value.args == ("expected `,` or `}` at line 1 column 18",)
    assert info.value.errno is None and info.value.strerror is None and info.value.filename is None
