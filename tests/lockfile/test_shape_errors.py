"""Shape errors: missing and duplicate fields, array lengths, wrong types and values."""

import json

import pytest

P = '{"lockfileVersion":1,"skills":'


def skill(entry):
    return P + '{"a":' + entry + "}}"


def entry_with(**fields):
    """A LockEntry text with the required fields, then `fields` as raw JSON texts."""
    members = ['"resolved":"r"', '"integrity":"i"', '"permissions":{}']
    members += [f"{json.dumps(k)}:{v}" for k, v in fields.items()]
    return "{" + ",".join(members) + "}"


def with_permissions(perms):
    return skill('{"resolved":"r","integrity":"i","permissions":' + perms + "}")


def end_column(text, after):
    """Column just after the first occurrence of `after` in a one-line text (bytes)."""
    data = text.encode()
    return data.index(after.encode()) + len(after.encode())


def after_entry(entry):
    """Column just after a skill entry written by skill(), the entry's closing brace."""
    return len(P) + len('{"a":') + len(entry)


# (text, message, column) on line 1: the position is after the record's closing brace.
MISSING = [
    ("{}", "missing field `lockfileVersion`", 2),
    ('{"skills":{}}', "missing field `lockfileVersion`", 13),
    ('{"lockfileVersion":1}', "missing field `skills`", 21),
    ('{"lockfileVersion":1,"x":2}', "missing field `skills`", 27),
    (skill("{}"), "missing field `resolved`", 37),
] + [
    (skill(entry), message, after_entry(entry))
    for entry, message in [
        ('{"integrity":"i","permissions":{}}', "missing field `resolved`"),
        ('{"resolved":"r"}', "missing field `integrity`"),
        ('{"resolved":"r","integrity":"i"}', "missing field `permissions`"),
        ('{"permissions":{},"resolved":"r"}', "missing field `integrity`"),
        ('{"x":{"resolved":"r"},"resolved":"r","integrity":"i","audit_score":null}', "missing field `permissions`"),
    ]
]


@pytest.mark.parametrize("text, message, column", MISSING)
def test_missing_field(json_error, text, message, column):
    assert json_error(text) == f"{message} at line 1 column {column}"


def test_missing_field_is_reported_at_the_closing_brace(json_error):
    text = '{\n  "lockfileVersion": 1,\n  "x": [1, 2]\n  }'
    assert json_error(text) == "missing field `skills` at line 4 column 3"


def test_optional_records_need_no_field(normalise):
    text = with_permissions('{"network":{},"filesystem":{}}')
    out = json.loads(normalise(text))
    assert out["skills"]["a"]["permissions"] == {
        "network": {"outbound": None},
        "filesystem": {"read": None, "write": None},
        "subprocess": None,
    }


# The position of a duplicate counts the repeated key and the whitespace
# after it; 0 stands for "right after the second quoted key" in one-line texts.
DUPLICATES = [
    ('{"lockfileVersion":1,"lockfileVersion":2}', "lockfileVersion", 1, 38),
    ('{"lockfileVersion":1,"lockfileVersion" :2}', "lockfileVersion", 1, 39),
    ('{"lockfileVersion":1,"lockfileVersion"\n\n :2}', "lockfileVersion", 3, 1),
    ('{"lockfileVersion":1,"lockfileVers\\u0069on":2}', "lockfileVersion", 1, 43),
    ('{"skills":{},"x":1,"skills":{}}', "skills", 1, 27),
    (skill('{"resolved":"r","resolved":"r"}'), "resolved", 1, 0),
    (skill('{"resolved":"r","integrity":"i","integrity":"i"}'), "integrity", 1, 0),
    (skill('{"permissions":{},"resolved":"r","permissions":{}}'), "permissions", 1, 0),
    (skill('{"audit_score":null,"resolved":"r","audit_score":1}'), "audit_score", 1, 0),
    (skill('{"dependencies":{},"x":1,"dependencies":{}}'), "dependencies", 1, 0),
    (with_permissions('{"subprocess":true,"subprocess":true}'), "subprocess", 1, 0),
    (with_permissions('{"network":null,"network":null}'), "network", 1, 0),
    (with_permissions('{"filesystem":{},"filesystem":null}'), "filesystem", 1, 0),
    (with_permissions('{"network":{"outbound":[],"outbound":[]}}'), "outbound", 1, 0),
    (with_permissions('{"filesystem":{"read":null,"write":null,"read":null}}'), "read", 1, 0),
    (with_permissions('{"filesystem":{"write":null,"write":[]}}'), "write", 1, 0),
]


@pytest.mark.parametrize("text, field, line, column", DUPLICATES)
def test_duplicate_field(json_error, text, field, line, column):
    if column == 0:
        # One-line text: the position is right after the second quoted key.
        key = f'"{field}"'
        first = text.index(key)
        column = text.index(key, first + 1) + len(key)
        assert text.isascii()
    assert json_error(text) == f"duplicate field `{field}` at line {line} column {column}"


def test_unknown_keys_may_repeat(normalise):
    text = '{"x":1,"lockfileVersion":1,"x":[2],"skills":{},"x":{}}'
    assert normalise(text) == '{"lockfileVersion":1,"skills":{}}'


# Arrays of too few elements: the position is after the closing bracket.
LENGTHS = [
    ("[]", "invalid length 0, expected struct Lockfile with 2 elements", 2),
    ("[1]", "invalid length 1, expected struct Lockfile with 2 elements", 3),
    ("[ 1 ,\t{} ", "EOF while parsing a list", 9),
    (skill("[]"), "invalid length 0, expected struct LockEntry with 5 elements", 37),
    (skill('["r","i",{}]'), "invalid length 3, expected struct LockEntry with 5 elements", 47),
    (with_permissions("[]"), "invalid length 0, expected struct Permissions with 3 elements", 0),
    (with_permissions("[null,null]"), "invalid length 2, expected struct Permissions with 3 elements", 0),
    (with_permissions('{"network":[]}'), "invalid length 0, expected struct NetworkPermissions with 1 element", 0),
    (with_permissions('{"filesystem":[null]}'),
     "invalid length 1, expected struct FilesystemPermissions with 2 elements", 0),
]


@pytest.mark.parametrize("text, message, column", LENGTHS)
def test_invalid_length(json_error, text, message, column):
    if column == 0:
        column = end_column(text, "]")
    assert json_error(text) == f"{message} at line 1 column {column}"


# What a value is called in the invalid-type message; its position is after
# the value, or before the opening bracket of an array or object.
DESCRIPTIONS = [
    ("null", "null"),
    ("true", "boolean `true`"),
    ("false", "boolean `false`"),
    ("0", "integer `0`"),
    ("17", "integer `17`"),
    ("-17", "integer `-17`"),
    ("18446744073709551615", "integer `18446744073709551615`"),
    ("-9223372036854775808", "integer `-9223372036854775808`"),
    ("18446744073709551616", "floating point `1.8446744073709552e+19`"),
    ("-9223372036854775809", "floating point `-9.223372036854776e+18`"),
    ("-0", "floating point `-0.0`"),
    ("1.0", "floating point `1.0`"),
    ("1.5", "floating point `1.5`"),
    ("1e2", "floating point `100.0`"),
    ("-2.5E-3", "floating point `-0.0025`"),
    ("1e16", "floating point `1e+16`"),
    ("1e-400", "floating point `0.0`"),
    ('"x"', 'string "x"'),
    ('""', 'string ""'),
    ('"a\\"b\\\\c/"', 'string "a\\"b\\\\c/"'),
    ('"\\u00e9\\n\\t\\u0001\\u007f"', 'string "é\\n\\t\\u0001\\u007f"'),
    ('"\\ud83d\\ude00"', 'string "\U0001F600"'),
    ("[1, 2]", "sequence"),
    ("[]", "sequence"),
    ('{"a": 1}', "map"),
]


def value_end(text, value):
    start = text.index(":" + value) + 1
    return start if value[0] in "[{" else start + len(value.encode())


@pytest.mark.parametrize("value, description", DESCRIPTIONS)
def test_description_of_the_value_found(json_error, value, description):
    # Strings are described where a number is expected, the rest where a string is.
    if value.startswith('"'):
        text, expected = '{"lockfileVersion":' + value + ',"skills":{}}', "u32"
    else:
        text, expected = skill('{"resolved":' + value + "}"), "a string"
    column = value_end(text, value)
    assert json_error(text) == f"invalid type: {description}, expected {expected} at line 1 column {column}"


# For each field type, a value of the wrong type and the expectation text.
EXPECTATIONS = [
    ('{"lockfileVersion":true,"skills":{}}', "boolean `true`", "u32"),
    ('{"lockfileVersion":1.5,"skills":{}}', "floating point `1.5`", "u32"),
    ('{"lockfileVersion":1,"skills":[]}', "sequence", "a map"),
    ('{"lockfileVersion":1,"skills":null}', "null", "a map"),
    ("true", "boolean `true`", "struct Lockfile"),
    ('"lockfile"', 'string "lockfile"', "struct Lockfile"),
    (skill("null"), "null", "struct LockEntry"),
    (skill('"a"'), 'string "a"', "struct LockEntry"),
    (skill('{"resolved":1}'), "integer `1`", "a string"),
    (skill('{"resolved":"r","integrity":null}'), "null", "a string"),
    (skill('{"resolved":"r","integrity":"i","permissions":null}'), "null", "struct Permissions"),
    (skill('{"resolved":"r","integrity":"i","permissions":"all"}'), 'string "all"', "struct Permissions"),
    (skill(entry_with(audit_score='"85"')), 'string "85"', "f64"),
    (skill(entry_with(audit_score="true")), "boolean `true`", "f64"),
    (skill(entry_with(audit_score="[85]")), "sequence", "f64"),
    (skill(entry_with(dependencies="null")), "null", "a map"),
    (skill(entry_with(dependencies='["d"]')), "sequence", "a map"),
    (skill(entry_with(dependencies='{"d":1}')), "integer `1`", "a string"),
    (skill(entry_with(dependencies='{"d":null}')), "null", "a string"),
    (with_permissions('{"subprocess":1}'), "integer `1`", "a boolean"),
    (with_permissions('{"subprocess":"true"}'), 'string "true"', "a boolean"),
    (with_permissions('{"network":true}'), "boolean `true`", "struct NetworkPermissions"),
    (with_permissions('{"network":"api"}'), 'string "api"', "struct NetworkPermissions"),
    (with_permissions('{"filesystem":0}'), "integer `0`", "struct FilesystemPermissions"),
    (with_permissions('{"network":{"outbound":"api"}}'), 'string "api"', "a sequence"),
    (with_permissions('{"network":{"outbound":{}}}'), "map", "a sequence"),
    (with_permissions('{"network":{"outbound":["a",2]}}'), "integer `2`", "a string"),
    (with_permissions('{"network":{"outbound":[null]}}'), "null", "a string"),
    (with_permissions('{"filesystem":{"read":[["a"]]}}'), "sequence", "a string"),
    (with_permissions('{"filesystem":{"write":false}}'), "boolean `false`", "a sequence"),
    (with_permissions("[null,null,1.25]"), "floating point `1.25`", "a boolean"),
]


@pytest.mark.parametrize("text, description, expected", EXPECTATIONS)
def test_expectation_text_of_each_field_type(json_error, text, description, expected):
    assert json_error(text).startswith(f"invalid type: {description}, expected {expected} at line 1 column ")


def test_invalid_type_position_is_after_a_scalar_and_before_a_bracket(json_error):
    text = with_permissions('{"network":{"outbound":["a", 2 ]}}')
    assert json_error(text) == f"invalid type: integer `2`, expected a string at line 1 column {end_column(text, '2')}"
    text = with_permissions('{"network":{"outbound":  {"a":1}}}')
    column = text.index("{", text.index("outbound"))
    assert json_error(text) == f"invalid type: map, expected a sequence at line 1 column {column}"
    text = skill(entry_with(audit_score=' "high" '))
    assert json_error(text) == f'invalid type: string "high", expected f64 at line 1 column {end_column(text, "high" + chr(34))}'


VALUES = [
    ("-1", "invalid value: integer `-1`, expected u32"),
    ("4294967296", "invalid value: integer `4294967296`, expected u32"),
    ("18446744073709551615", "invalid value: integer `18446744073709551615`, expected u32"),
    ("-9223372036854775808", "invalid value: integer `-9223372036854775808`, expected u32"),
]


@pytest.mark.parametrize("value, message", VALUES)
def test_u32_out_of_range(json_error, value, message):
    text = '{"skills":{},"lockfileVersion":' + value + "}"
    assert json_error(text) == f"{message} at line 1 column {len(text) - 1}"


@pytest.mark.parametrize("value, stored", [("0", 0), ("4294967295", 4294967295), ("7", 7)])
def test_u32_accepted(normalise, value, stored):
    assert normalise('{"lockfileVersion":' + value + ',"skills":{}}') == (
        '{"lockfileVersion":%d,"skills":{}}' % stored
    )


@pytest.mark.parametrize("value", ["1e400", "-1e400", "1.8e308", "1234567890e300", "-0.1e310"])
def test_number_out_of_range(json_error, value):
    for text in ('{"lockfileVersion":' + value, skill(entry_with(audit_score=value))):
        column = end_column(text, value)
        assert json_error(text + "}") == f"number out of range at line 1 column {column}"


def test_errors_in_order_of_the_text(json_error):
    # The first error in the text wins, whatever its kind.
    assert json_error('{"lockfileVersion":-1,"lockfileVersion":1}') == (
        "invalid value: integer `-1`, expected u32 at line 1 column 21"
    )
    assert json_error('{"lockfileVersion":1,"lockfileVersion":x}') == (
        "duplicate field `lockfileVersion` at line 1 column 38"
    )
    assert json_error('{"skills":{"a":{}},"lockfileVersion":"1"}') == "missing field `resolved` at line 1 column 17"
    assert json_error('{"lockfileVersion":tru,"skills":5}') == "expected ident at line 1 column 23"
