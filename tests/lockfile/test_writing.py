"""The two written layouts, byte for byte: compact (read_lockfile) and indented (write_lockfile)."""

import decimal
import json
import math
import uuid

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import morvane_core

P = '{"lockfileVersion":1,"skills":'
MINIMAL = '{"resolved":"1.0.0","integrity":"x","permissions":{}}'


def with_score(literal):
    return P + '{"a":' + MINIMAL[:-1] + ',"audit_score":' + literal + "}}}"


def written_score(compact):
    return compact.split('"audit_score":', 1)[1].split(',"dependencies"', 1)[0]


class TestLayouts:
    def test_empty_lockfile(self, stored, normalise):
        assert stored('{"lockfileVersion":1,"skills":{}}') == b'{\n  "lockfileVersion": 1,\n  "skills": {}\n}\n'
        assert len(stored("[1,{}]")) == 43
        assert normalise("[1,{}]") == '{"lockfileVersion":1,"skills":{}}'

    def test_one_skill_compact(self, normalise):
        assert normalise(P + '{"a":' + MINIMAL + "}}") == (
            '{"lockfileVersion":1,"skills":{"a":{"resolved":"1.0.0","integrity":"x","permissions":'
            '{"network":null,"filesystem":null,"subprocess":null},"audit_score":null,"dependencies":{}}}}'
        )

    def test_one_skill_indented(self, stored):
        text = P + '{"a":{"resolved":"1.0.0","integrity":"x","permissions":{"network":{"outbound":["api"]},' \
                   '"subprocess":false}}}}'
        lines = [
            "{",
            '..\"lockfileVersion\": 1,',
            '..\"skills\": {',
            '....\"a\": {',
            '......\"resolved\": \"1.0.0\",',
            '......\"integrity\": \"x\",',
            '......\"permissions\": {',
            '........\"network\": {',
            '..........\"outbound\": [',
            '............\"api\"',
            "..........]",
            "........},",
            '........\"filesystem\": null,',
            '........\"subprocess\": false',
            "......},",
            '......\"audit_score\": null,',
            '......\"dependencies\": {}',
            "....}",
            "..}",
            "}",
        ]
        expected = "".join(
            " " * (len(line) - len(line.lstrip("."))) + line.lstrip(".") + "\n" for line in lines
        )
        assert stored(text) == expected.encode()

    def test_stored_text_reads_back_to_the_same_bytes(self, tmp_path, stored):
        text = P + '{"b":' + MINIMAL + ',"a":[ "2", "y", [null, {"read": ["/r"]}, false], 0.5, {"z":"1","y":"2"}]}}'
        first = stored(text)
        compact = morvane_core.read_lockfile(str(tmp_path / "stored.lock"))
        assert stored(compact) == first
        assert b"\r" not in first and first.endswith(b"}\n") and not first.endswith(b"\n\n")


# (input literal, written form)
FLOATS = [
    ("85", "85.0"),
    ("90", "90.0"),
    ("87.5", "87.5"),
    ("0.1", "0.1"),
    ("1e16", "1e+16"),
    ("1.5e-6", "1.5e-6"),
    ("0.00001", "0.00001"),
    ("0.000001", "1e-6"),
    ("0.0001", "0.0001"),
    ("-0.0", "-0.0"),
    ("0", "0.0"),
    ("1e15", "1000000000000000.0"),
    ("999999999999999.9", "999999999999999.9"),
    ("1234567890123456.7", "1234567890123456.8"),
    ("12345678901234567", "1.2345678901234568e+16"),
    ("1.2345e300", "1.2345e+300"),
    ("-1.2345e-300", "-1.2345e-300"),
    ("5e-324", "5e-324"),
    ("1.7976931348623157e308", "1.7976931348623157e+308"),
    ("0.30000000000000004", "0.30000000000000004"),
    ("123.456", "123.456"),
    ("-42", "-42.0"),
    ("1e21", "1e+21"),
    ("1.0e-5", "0.00001"),
    ("0.000012345", "0.000012345"),
    ("100000", "100000.0"),
]


@pytest.mark.parametrize("literal, written", FLOATS)
def test_audit_score_format(normalise, stored, literal, written):
    assert written_score(normalise(with_score(literal))) == written
    assert f'"audit_score": {written},\n'.encode() in stored(with_score(literal))


# (raw text, escaped form inside the quotes)
ESCAPES = [
    ('"', '\\"'),
    ("\\", "\\\\"),
    ("/", "/"),
    ("\b\t\n\f\r", "\\b\\t\\n\\f\\r"),
    ("\x00", "\\u0000"),
    ("\x01\x07\x0b\x0e\x1b", "\\u0001\\u0007\\u000b\\u000e\\u001b"),
    ("\x1f", "\\u001f"),
    ("\x7f", "\x7f"),
    ("é日\U0001F600\u2028", "é日\U0001F600\u2028"),
    ("plain text, no escapes at all, and rather longer than eight bytes", None),
    ('mixed "quotes" and \\ in a long run of text\x1f!', 'mixed \\"quotes\\" and \\\\ in a long run of text\\u001f!'),
]


@pytest.mark.parametrize("raw, escaped", ESCAPES)
def test_string_escaping(tmp_path, normalise, stored, raw, escaped):
    escaped = raw if escaped is None else escaped
    # The same text as key, value and list element, given with \u escapes.
    text = P + "{" + json.dumps(raw) + ":" + MINIMAL.replace('"1.0.0"', json.dumps(raw)) + "}}"
    compact = normalise(text)
    assert compact.startswith(P + '{"' + escaped + '":{"resolved":"' + escaped + '","integrity"')
    assert ('"resolved": "' + escaped + '",\n').encode() in stored(text)


def test_dependencies_written_in_byte_order_whatever_the_input_order(normalise):
    ranges = {"b": "^1", "a": "~2", "B": "3", "é": "4", "ab": "5", "": "6", "a\u0000": "7"}
    keys = list(ranges)
    outputs = set()
    for shift in range(len(keys)):
        rotated = keys[shift:] + keys[:shift]
        deps = "{" + ",".join(f"{json.dumps(k)}:{json.dumps(ranges[k])}" for k in rotated) + "}"
        compact = normalise(P + '{"a":' + MINIMAL[:-1] + ',"dependencies":' + deps + "}}}")
        outputs.add(compact)
        assert list(json.loads(compact)["skills"]["a"]["dependencies"]) == sorted(keys, key=str.encode)
    # The same document gives the same bytes, whatever order its members came in.
    assert len(outputs) == 1


# Property: any lockfile is written exactly as a plain model of the format says.
def model_score(x):
    """The written audit score, from Python's own shortest round-trip digits."""
    sign = "-" if math.copysign(1.0, x) < 0 else ""
    x = abs(x)
    if x == 0:
        return sign + "0.0"
    _, digits, exp = decimal.Decimal(repr(x)).as_tuple()
    digits = "".join(map(str, digits))
    stripped = digits.rstrip("0")
    exp += len(digits) - len(stripped)
    digits = stripped
    e = len(digits) + exp - 1  # power of ten of the first digit
    if -5 <= e <= 15:
        if e < 0:
            return sign + "0." + "0" * (-e - 1) + digits
        if len(digits) <= e + 1:
            return sign + digits + "0" * (e + 1 - len(digits)) + ".0"
        return sign + digits[: e + 1] + "." + digits[e + 1:]
    mantissa = digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
    return sign + mantissa + "e" + ("-" if e < 0 else "+") + str(abs(e))


def model_normalise(doc):
    def text_list(v):
        return None if v is None else list(v)

    def entry(e):
        perms = e["permissions"]
        net, fs = perms.get("network"), perms.get("filesystem")
        score = e.get("audit_score")
        return {
            "resolved": e["resolved"],
            "integrity": e["integrity"],
            "permissions": {
                "network": None if net is None else {"outbound": text_list(net.get("outbound"))},
                "filesystem": None if fs is None else {"read": text_list(fs.get("read")),
                                                       "write": text_list(fs.get("write"))},
                "subprocess": perms.get("subprocess"),
            },
            "audit_score": None if score is None else float(score),
            "dependencies": dict(sorted(e.get("dependencies", {}).items(), key=lambda kv: kv[0].encode())),
        }

    skills = doc["skills"]
    return {
        "lockfileVersion": doc["lockfileVersion"],
        "skills": {k: entry(skills[k]) for k in sorted(skills, key=str.encode)},
    }


def model_text(normalised, **dump_args):
    """json.dumps of the normalised document with each score in the written form."""
    scores = {}
    doc = json.loads(json.dumps(normalised))
    for i, e in enumerate(doc["skills"].values()):
        if e["audit_score"] is not None:
            token = f"@{uuid.uuid4().hex}@{i}"
            scores[json.dumps(token)] = model_score(e["audit_score"])
            e["audit_score"] = token
    text = json.dumps(doc, ensure_ascii=False, **dump_args)
    for token, written in scores.items():
        text = text.replace(token, written)
    return text


texts = st.text(max_size=12)
optional_list = st.none() | st.lists(texts, max_size=3)
scores = st.floats(allow_nan=False, allow_infinity=False) | st.integers(-(2**53), 2**53)


def optional_keys(required, optional):
    """Objects with the required members and any subset of the optional ones."""
    return st.fixed_dictionaries(required, optional=optional)


permissions = optional_keys(
    {},
    {
        "network": st.none() | optional_keys({}, {"outbound": optional_list}),
        "filesystem": st.none() | optional_keys({}, {"read": optional_list, "write": optional_list}),
        "subprocess": st.none() | st.booleans(),
    },
)
entries = optional_keys(
    {"resolved": texts, "integrity": texts, "permissions": permissions},
    {"audit_score": st.none() | scores, "dependencies": st.dictionaries(texts, texts, max_size=4)},
)
documents = st.fixed_dictionaries(
    {"lockfileVersion": st.integers(0, 2**32 - 1), "skills": st.dictionaries(texts, entries, max_size=5)}
)


def test_texts_of_every_length_are_copied_exactly(tmp_path):
    # Short pieces of text are copied by loads and stores chosen by their
    # length: every length from none to beyond the longest such piece, with
    # bytes that differ at every place, ASCII and not, deep enough for wide
    # indentation.
    alphabet = "".join(map(chr, range(0x21, 0x7F))).replace('"', "").replace("\\", "")
    skills = {}
    for n in range(70):
        text = (alphabet * 2)[n:2 * n]
        skills[f"{n:02}{text}"] = {
            "resolved": text,
            "integrity": "é" * (n // 2) + text[: n % 2],
            "permissions": {"filesystem": {"read": [text, text[::-1]]}},
            "dependencies": {text: text[::-1]},
        }
    doc = {"lockfileVersion": 1, "skills": skills}
    path = tmp_path / "lengths.lock"
    morvane_core.write_lockfile(str(path), json.dumps(doc))
    normalised = model_normalise(doc)
    assert path.read_bytes() == (model_text(normalised, indent=2) + "\n").encode()
    assert morvane_core.read_lockfile(str(path)) == model_text(normalised, separators=(",", ":"))


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(doc=documents, ascii_only=st.booleans())
def test_any_lockfile_is_written_as_modelled(tmp_path, doc, ascii_only):
    path = tmp_path / "prop.lock"
    morvane_core.write_lockfile(str(path), json.dumps(doc, ensure_ascii=ascii_only))
    normalised = model_normalise(doc)
    assert path.read_bytes() == (model_text(normalised, indent=2) + "\n").encode()
    compact = morvane_core.read_lockfile(str(path))
    assert compact == model_text(normalised, separators=(",", ":"))


@settings(max_examples=300, deadline=None)
@given(x=st.floats(allow_nan=False, allow_infinity=False))
def test_any_score_is_written_as_modelled_and_reads_back_exactly(tmp_path_factory, x):
    path = tmp_path_factory.mktemp("score") / "s.lock"
    morvane_core.write_lockfile(str(path), with_score(repr(x)))
    written = written_score(morvane_core.read_lockfile(str(path)))
    assert written == model_score(x)
    assert float(written) == x and math.copysign(1.0, float(written)) == math.copysign(1.0, x)
