"""Documents the reader accepts, and the normalised text they come back as."""

import json

import pytest

P = '{"lockfileVersion":1,"skills":'
EMPTY_PERMS = '{"network":null,"filesystem":null,"subprocess":null}'


def entry_out(resolved="1.0.0", integrity="x", perms=EMPTY_PERMS, score="null", deps="{}"):
    """The compact text of one written LockEntry."""
    return (
        f'{{"resolved":"{resolved}","integrity":"{integrity}","permissions":{perms},'
        f'"audit_score":{score},"dependencies":{deps}}}'
    )


def one_skill(entry_text, name="a"):
    return P + "{" + json.dumps(name) + ":" + entry_text + "}}"


MINIMAL = '{"resolved":"1.0.0","integrity":"x","permissions":{}}'


class TestNormalisation:
    def test_fields_in_declaration_order_with_absent_values_as_null(self, normalise):
        text = '{"skills":{"a":{"permissions":{},"integrity":"x","resolved":"1.0.0"}},"lockfileVersion":1}'
        assert normalise(text) == one_skill(entry_out())

    def test_missing_and_null_audit_score_read_the_same(self, normalise):
        assert normalise(one_skill(MINIMAL)) == normalise(one_skill(MINIMAL[:-1] + ',"audit_score":null}'))

    def test_integer_audit_score_is_written_as_a_float(self, normalise):
        assert normalise(one_skill(MINIMAL[:-1] + ',"audit_score":85}')) == one_skill(entry_out(score="85.0"))

    def test_network_object_differs_from_null(self, normalise):
        perms_in = '{"network":{},"filesystem":{"write":[]},"subprocess":false}'
        perms_out = '{"network":{"outbound":null},"filesystem":{"read":null,"write":[]},"subprocess":false}'
        text = one_skill('{"resolved":"1.0.0","integrity":"x","permissions":' + perms_in + "}")
        assert normalise(text) == one_skill(entry_out(perms=perms_out))

    def test_skills_sorted_by_bytes(self, normalise):
        names = ["b", "ab", "a", "B", "", "é", "z", "\U0001F600", "a\u0000"]
        text = P + "{" + ",".join(f"{json.dumps(n)}:{MINIMAL}" for n in names) + "}}"
        out = json.loads(normalise(text))
        assert list(out["skills"]) == sorted(names, key=lambda n: n.encode())
        assert list(out["skills"]) == ["", "B", "a", "a\u0000", "ab", "b", "z", "é", "\U0001F600"]

    def test_later_duplicate_skill_wins(self, normalise):
        first = MINIMAL.replace("1.0.0", "1.0.0")
        second = MINIMAL.replace("1.0.0", "2.0.0")
        text = P + '{"a":' + first + ',"b":' + MINIMAL + ',"a":' + second + "}}"
        out = json.loads(normalise(text))
        assert list(out["skills"]) == ["a", "b"]
        assert out["skills"]["a"]["resolved"] == "2.0.0"

    def test_dependencies_sorted_and_later_duplicate_wins(self, normalise):
        deps = '{"zeta":"1","alpha":"2","Beta":"3","alpha":"4","":"5"}'
        text = one_skill(MINIMAL[:-1] + ',"dependencies":' + deps + "}")
        assert normalise(text) == one_skill(entry_out(deps='{"":"5","Beta":"3","alpha":"4","zeta":"1"}'))

    def test_many_dependencies_in_reverse_order(self, normalise):
        deps = {f"d{i:04d}": str(i) for i in range(300, 0, -1)}
        text = one_skill(MINIMAL[:-1] + ',"dependencies":' + json.dumps(deps) + "}")
        out = json.loads(normalise(text))
        assert list(out["skills"]["a"]["dependencies"].items()) == sorted(deps.items())

    def test_many_skills_with_duplicates_in_any_order(self, normalise):
        order = [(i * 7919) % 500 for i in range(1000)]  # every index twice, shuffled
        members = [f'"s{i:03d}":' + MINIMAL.replace("1.0.0", f"{i}.{n}") for n, i in enumerate(order)]
        out = json.loads(normalise(P + "{" + ",".join(members) + "}}"))
        assert list(out["skills"]) == [f"s{i:03d}" for i in range(500)]
        last = {i: n for n, i in enumerate(order)}
        assert all(out["skills"][f"s{i:03d}"]["resolved"] == f"{i}.{last[i]}" for i in range(500))

    def test_keys_match_after_escapes(self, normalise):
        text = '{"lockfileVers\\u0069on":3,"\\u0073kills":{}}'
        assert normalise(text) == '{"lockfileVersion":3,"skills":{}}'

    def test_keys_are_case_sensitive(self, json_error):
        assert json_error('{"LockfileVersion":1,"skills":{}}') == (
            "missing field `lockfileVersion` at line 1 column 33"
        )

    def test_whitespace_anywhere_between_tokens(self, normalise):
        text = ' \t\r\n{ "lockfileVersion" :\n1 ,\r\n"skills"\t: { } } \n\t '
        assert normalise(text) == '{"lockfileVersion":1,"skills":{}}'


class TestStrings:
    @pytest.mark.parametrize(
        "json_text, decoded",
        [
            ('"\\u0041\\u00e9\\u65e5"', "Aé日"),
            ('"\\ud83d\\ude00"', "\U0001F600"),
            ('"\\uD834\\uDD1E"', "\U0001D11E"),
            ('"\\/\\"\\\\"', '/"\\'),
            ('"\\b\\f\\n\\r\\t"', "\b\f\n\r\t"),
            ('"\\u0000\\u001f"', "\x00\x1f"),
            ('"raw é 日 \U0001F600 \x7f"', "raw é 日 \U0001F600 \x7f"),
            ('""', ""),
        ],
    )
    def test_escapes_are_decoded(self, normalise, json_text, decoded):
        out = json.loads(normalise(one_skill(MINIMAL.replace('"1.0.0"', json_text))))
        assert out["skills"]["a"]["resolved"] == decoded

    def test_every_text_with_escapes_keeps_its_own_value(self, normalise):
        # Escaped texts one after another, a dependency's key right before its
        # value among them: each must come back as itself, not as a later one.
        def entry(i):
            return {
                "resolved": f"é{i}", "integrity": f"\n{i}",
                "permissions": {"network": {"outbound": [f"ö{i}", f"ü{i}"]},
                                "filesystem": {"read": [f"\t{i}"], "write": [f"日{i}", "plain"]}, "subprocess": None},
                "audit_score": None, "dependencies": {f"ä{i}{k}": f"ß{i}{k}" for k in "ba"},
            }
        doc = {"lockfileVersion": 1, "skills": {f"ñ{i}": entry(i) for i in (3, 1, 2)}}
        out = normalise(json.dumps(doc, ensure_ascii=True))
        assert list(json.loads(out)["skills"]) == ["ñ1", "ñ2", "ñ3"]
        assert json.loads(out) == doc

    def test_lists_keep_order_duplicates_and_empty_texts(self, normalise):
        perms = '{"filesystem":{"read":["b","a","b",""],"write":null},"network":{"outbound":["x"]}}'
        out = json.loads(normalise(one_skill('{"resolved":"","integrity":"","permissions":' + perms + "}")))
        assert out["skills"]["a"]["permissions"]["filesystem"] == {"read": ["b", "a", "b", ""], "write": None}
        assert out["skills"]["a"]["permissions"]["network"] == {"outbound": ["x"]}


class TestNumbers:
    @pytest.mark.parametrize(
        "literal, written",
        [
            ("0.1000000000000000055511151231257827", "0.1"),
            ("0.30000000000000004", "0.30000000000000004"),
            ("1e-400", "0.0"),
            ("-1e-400", "-0.0"),
            ("0.0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
             "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
             "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
             "00000000000000000000000000000000001", "0.0"),
            ("4.9406564584124654e-324", "5e-324"),
            ("2.4703282292062328e-324", "5e-324"),
            ("1.7976931348623157e308", "1.7976931348623157e+308"),
            ("18446744073709551616", "1.8446744073709552e+19"),
            ("-0", "-0.0"),
            ("0", "0.0"),
            ("100E-2", "1.0"),
            ("9007199254740993", "9007199254740992.0"),
            ("1" + "0" * 400 + "e-400", "1.0"),
        ],
    )
    def test_audit_score_is_rounded_correctly(self, normalise, literal, written):
        text = one_skill(MINIMAL[:-1] + ',"audit_score":' + literal + "}")
        assert normalise(text) == one_skill(entry_out(score=written))


class TestArrayForm:
    def test_lockfile_as_array(self, normalise):
        assert normalise("[1, {}]") == '{"lockfileVersion":1,"skills":{}}'

    def test_every_record_as_array(self, normalise):
        entry = '["1.0.0", "x", [[["api"]], [null, ["/w"]], true], 7.5, {"d": "^1"}]'
        perms = '{"network":{"outbound":["api"]},"filesystem":{"read":null,"write":["/w"]},"subprocess":true}'
        assert normalise("[2, {" + '"a":' + entry + "}]") == (
            '{"lockfileVersion":2,"skills":{"a":' + entry_out(perms=perms, score="7.5", deps='{"d":"^1"}') + "}}"
        )

    def test_lock_entry_of_four_elements_has_no_dependencies(self, normalise):
        assert normalise(one_skill('["1.0.0","x",[null,null,null],null]')) == one_skill(entry_out())

    def test_optional_fields_must_be_present_in_arrays(self, json_error):
        text = one_skill('["1.0.0","x",[null,null]]')
        assert json_error(text).startswith("invalid length 2, expected struct Permissions with 3 elements")

    def test_objects_and_arrays_mix(self, normalise):
        text = P + '{"a":{"permissions":[{"outbound":[]},null,null],"resolved":"1.0.0","integrity":"x"}}}'
        perms = '{"network":{"outbound":[]},"filesystem":null,"subprocess":null}'
        assert normalise(text) == one_skill(entry_out(perms=perms))


# A value of every kind, for skipping under unknown keys.
UNKNOWN_VALUES = [
    "null", "true", "false", "0", "-0.5e-7", "1e400", "123456789012345678901234567890",
    '"text with \\"escapes\\" \\u00e9 \\ud83d\\ude00"', '""', "[]", "{}",
    '[1, "a", null, [true, {"k": [false]}], {}]', '{"lockfileVersion": "not a number", "skills": 5}',
    '{"a": {"b": {"c": [[[[]]]]}}}', '{"dup": 1, "dup": 2}',
]


class TestUnknownMembers:
    @pytest.mark.parametrize("value", UNKNOWN_VALUES)
    def test_skipped_at_every_level(self, normalise, value):
        u = '"unknown \\u00e9":' + value
        text = (
            "{" + u + ',"lockfileVersion":1,' + u + ',"skills":{"a":{' + u + ',"resolved":"1.0.0",'
            '"integrity":"x","permissions":{' + u + ',"network":{' + u + ',"outbound":[]},'
            '"filesystem":{"read":null,' + u + "}}," + u + "}}," + u + "}"
        )
        perms = '{"network":{"outbound":[]},"filesystem":{"read":null,"write":null},"subprocess":null}'
        assert normalise(text) == one_skill(entry_out(perms=perms))

    def test_unknown_key_named_like_a_field_of_another_record(self, normalise):
        text = '{"lockfileVersion":1,"skills":{},"resolved":1,"outbound":{},"read":[]}'
        assert normalise(text) == '{"lockfileVersion":1,"skills":{}}'

    @pytest.mark.parametrize(
        "value, message",
        [
            ("[1,]", "trailing comma"),
            ('{"a":1,}', "trailing comma"),
            ("[1 2]", "expected `,` or `]`"),
            ('{"a" 1}', "expected `:`"),
            ('{"a":1 "b":2}', "expected `,` or `}`"),
            ("{1:2}", "key must be a string"),
            ("[nul]", "expected ident"),
            ("[01]", "invalid number"),
            ('["\\x"]', "invalid escape"),
            ('["\\uDC00"]', "lone leading surrogate in hex escape"),
            ("[}", "expected value"),
            ("[1}", "expected `,` or `]`"),
            ('{"a":[}]', "expected value"),
        ],
    )
    def test_skipped_values_must_be_well_formed(self, json_error, value, message):
        assert json_error('{"lockfileVersion":1,"x":' + value + ',"skills":{}}').startswith(message + " at line 1")


class TestDeepNesting:
    """A skipped value may nest to any depth; nothing about it recurses."""

    DEPTH = 300_000

    def test_deep_arrays(self, normalise):
        text = '{"lockfileVersion":1,"x":' + "[" * self.DEPTH + "]" * self.DEPTH + ',"skills":{}}'
        assert normalise(text) == '{"lockfileVersion":1,"skills":{}}'

    def test_deep_objects_and_arrays(self, normalise):
        text = '{"lockfileVersion":1,"skills":{},"x":' + '{"k":[' * self.DEPTH + "1" + "]}" * self.DEPTH + "}"
        assert normalise(text) == '{"lockfileVersion":1,"skills":{}}'

    def test_deep_in_an_entry(self, normalise):
        deep = "[" * self.DEPTH + "]" * self.DEPTH
        text = one_skill(MINIMAL[:-1] + ',"x":' + deep + "}")
        assert normalise(text) == one_skill(entry_out())

    def test_unclosed_deep_value(self, json_error):
        text = '{"lockfileVersion":1,"skills":{},"x":' + "[" * self.DEPTH
        assert json_error(text) == f"EOF while parsing a list at line 1 column {len(text)}"

    def test_mismatched_bracket_deep_down(self, json_error):
        text = '{"lockfileVersion":1,"skills":{},"x":' + '[{"k":' * 1000 + "1]"
        assert json_error(text) == f"expected `,` or `}}` at line 1 column {len(text)}"
