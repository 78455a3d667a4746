"""Schema merge rules as process_export_payload reads them: accepted forms
(observed through the schema annotations) and every failure message with its
exact position."""

import json

import pytest
from hypothesis import given, settings, strategies as st
from support.strategies import json_values

import quarn_core as q


def run(rules, payload='{"a":0}'):
    return q.process_export_payload(payload, rules)


def error_of(rules, payload='{"a":0}'):
    with pytest.raises(ValueError) as info:
        run(rules, payload)
    assert type(info.value) is ValueError
    assert len(info.value.args) == 1
    return info.value.args[0]


def schema_of_a(annotations):
    return '{"properties":{"a":{' + annotations + '"properties":{},"type":1}},"type":6}'


@pytest.mark.parametrize(
    "rules, annotations",
    [
        ("{}", ""),
        ('{"a": {}}', ""),
        ('{"a": []}', ""),
        ('{"a": {"encoding": null}}', ""),
        ('{"a": {"encoding": -1}}', '"encoding":-1,'),
        ('{"a": {"match_importance": 3}}', '"match_importance":3.0,'),
        ('{"a": {"match_importance": -0.0}}', '"match_importance":-0.0,'),
        ('{"a": {"match_importance": 18446744073709551615}}', '"match_importance":1.8446744073709552e+19,'),
        ('{"a": {"other": [1, {"deep": true}], "encoding": 1}}', '"encoding":1,'),
        ('{"a": {"x": 1, "x": {"encoding": "no"}, "decoded_type": 0}}', '"decoded_type":0,'),
        ('{"a": [1, 1, 0.5]}', '"decoded_type":1,"encoding":1,"match_importance":0.5,'),
        ('{"a": [null, 7]}', '"decoded_type":7,'),
        ('{"a": {"encoding": 1}, "a": {"decoded_type": 1}}', '"decoded_type":1,'),
        ('{"\\u0061": {"enc\\u006fding": 5}}', '"encoding":5,'),
        ('{"a": {"encoding": 2147483647, "decoded_type": -2147483648}}',
         '"decoded_type":-2147483648,"encoding":2147483647,'),
        (' \t\n{ "a" : [ 2 , 3 ] } \r\n', '"decoded_type":3,"encoding":2,'),
        ('{"A": {"encoding": 1}, "a ": [1], "b": [1]}', ""),
    ],
)  # fmt: skip
def test_accepted_rules_annotate_the_schema(rules, annotations):
    assert run(rules)[3] == schema_of_a(annotations)


# Exact messages, prefix and position included.
@pytest.mark.parametrize(
    "rules, message",
    [
        # top level
        ("", "EOF while parsing a value at line 1 column 0"),
        ("null", "invalid type: null, expected a map at line 1 column 4"),
        ("[]", "invalid type: sequence, expected a map at line 1 column 0"),
        ('  "x"', 'invalid type: string "x", expected a map at line 1 column 5'),
        ("-12", "invalid type: integer `-12`, expected a map at line 1 column 3"),
        ("1e2", "invalid type: floating point `100.0`, expected a map at line 1 column 3"),
        ("[1,", "invalid type: sequence, expected a map at line 1 column 0"),
        ("{} x", "trailing characters at line 1 column 4"),
        ("{", "EOF while parsing an object at line 1 column 1"),
        ('{"a": {},}', "trailing comma at line 1 column 10"),
        ('{"a" 1}', "expected `:` at line 1 column 6"),
        ("{1: {}}", "key must be a string at line 1 column 2"),
        # rule of the wrong type
        ('{"a": 5}', "invalid type: integer `5`, expected struct MergeRule at line 1 column 7"),
        ('{"a": null}', "invalid type: null, expected struct MergeRule at line 1 column 10"),
        ('{"a": "s"}', 'invalid type: string "s", expected struct MergeRule at line 1 column 9'),
        ('{\n "a": null\n}', "invalid type: null, expected struct MergeRule at line 2 column 10"),
        # i32 fields
        ('{"a": {"encoding": 1.0}}', "invalid type: floating point `1.0`, expected i32 at line 1 column 22"),
        ('{"a": {"encoding": 1e0}}', "invalid type: floating point `1.0`, expected i32 at line 1 column 22"),
        ('{"a": {"encoding": "1"}}', 'invalid type: string "1", expected i32 at line 1 column 22'),
        ('{"a": {"encoding": [1]}}', "invalid type: sequence, expected i32 at line 1 column 19"),
        ('{"a": {"decoded_type": {}}}', "invalid type: map, expected i32 at line 1 column 23"),
        ('{"a": {"encoding": 2147483648}}', "invalid value: integer `2147483648`, expected i32 at line 1 column 29"),
        ('{"a": {"encoding": -2147483649}}', "invalid value: integer `-2147483649`, expected i32 at line 1 column 30"),
        ('{"a": {"encoding": 18446744073709551616}}',
         "invalid type: floating point `1.8446744073709552e+19`, expected i32 at line 1 column 39"),
        ('{"a": [1, 2.5]}', "invalid type: floating point `2.5`, expected i32 at line 1 column 13"),
        # f64 field
        ('{"a": {"match_importance": "x"}}', 'invalid type: string "x", expected f64 at line 1 column 30'),
        ('{"a": {"match_importance": false}}', "invalid type: boolean `false`, expected f64 at line 1 column 32"),
        ('{"a": {"match_importance": [0.5]}}', "invalid type: sequence, expected f64 at line 1 column 27"),
        ('{"a": [1, 1, "x"]}', 'invalid type: string "x", expected f64 at line 1 column 16'),
        # string descriptions
        ('{"a": {"encoding": "q\\"b\\\\s\\u0001\\t\\n\\r\\u0000\\u007f\\u0085\\u00e9/"}}',
         'invalid type: string "q\\"b\\\\s\\u{1}\\t\\n\\r\\0\\u{7f}\\u{85}\u00e9/", expected i32 at line 1 column 65'),
        # duplicates
        ('{"a": {"encoding": 1, "encoding": 2}}', "duplicate field `encoding` at line 1 column 32"),
        ('{"a": {"encoding": null, "encoding": 1}}', "duplicate field `encoding` at line 1 column 35"),
        ('{"a": {"decoded_type": 0, "decoded_type"  \n :1}}', "duplicate field `decoded_type` at line 2 column 1"),
        ('{"a": [], "b": {"match_importance": 1, "match_importance"', "duplicate field `match_importance` at line 1 column 57"),
        # rule arrays
        ('{"a": [1, 1, 0.5, 0]}', "trailing characters at line 1 column 19"),
        ('{"a": [1, 1, 0.5,]}', "trailing comma at line 1 column 18"),
        ('{"a": [1, 1, 0.5 x]}', "trailing characters at line 1 column 18"),
        ('{"a": [1, 1, 0.5,', "trailing characters at line 1 column 17"),
        ('{"a": [1,]}', "trailing comma at line 1 column 10"),
        ('{"a": [1 2]}', "expected `,` or `]` at line 1 column 10"),
        ('{"a": [1', "EOF while parsing a list at line 1 column 8"),
        # syntax inside rules and skipped values
        ('{"a": {"encoding": 1,}}', "trailing comma at line 1 column 22"),
        ('{"a": {"encoding": 01}}', "invalid number at line 1 column 21"),
        ('{"a": {"encoding": nul}}', "expected ident at line 1 column 23"),
        ('{"a": {"encoding": 1e400}}', "number out of range at line 1 column 24"),
        ('{"a": {"x": [1,]}}', "trailing comma at line 1 column 16"),
        ('{"a": {"x": [1', "EOF while parsing a list at line 1 column 14"),
        # the first fault in text order wins
        ('{"a": {"encoding": "x", "encoding": 1}}', 'invalid type: string "x", expected i32 at line 1 column 22'),
        ('{"a": 5, "b": [', "invalid type: integer `5`, expected struct MergeRule at line 1 column 7"),
        ('{"b": {"encoding": 1, "encoding": 1.5}}', "duplicate field `encoding` at line 1 column 32"),
    ],
)  # fmt: skip
def test_failure_messages(rules, message):
    assert error_of(rules) == "invalid json: " + message


# A member of a rule object that is not one of the three fields is checked for
# its grammar only: numbers are not converted and \u escapes are not paired.
@pytest.mark.parametrize(
    "rules, outcome",
    [
        ('{"a":{"x":1e400,"encoding":1}}', '"encoding":1,'),
        ('{"a":{"x":"\\udc00"}}', ""),
        ('{"a":{"x":"\\ud800","decoded_type":1}}', '"decoded_type":1,'),
        ('{"a":{"x":[1e99999999999, -1e400]}}', ""),
        ('{"a":{"x":{"y":"\\ud83d\\u0041","z":-0e-99999999999}}}', ""),
        ('{"a":{"x":{"\\udfff":0.5e-999999999999999999999}}}', ""),
        ('{"a":{"x":"\\u12"}}', "invalid escape at line 1 column 17"),
        ('{"a":{"x":"\\x"}}', "invalid escape at line 1 column 13"),
        ('{"a":{"x":"\x01"}}', "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 12"),
        ('{"a":{"x":1e}}', "invalid number at line 1 column 13"),
        ('{"a":{"x":01}}', "invalid number at line 1 column 12"),
        ('{"a":{"x":-}}', "invalid number at line 1 column 12"),
        ('{"a":{"x":1.}}', "invalid number at line 1 column 13"),
        ('{"a":{"x":-', "EOF while parsing a value at line 1 column 11"),
        ('{"a":{"x":"\\ud800', "EOF while parsing a string at line 1 column 17"),
        ('{"a":{"x":1e400,"encoding":1,"encoding":2}}', "duplicate field `encoding` at line 1 column 39"),
        # fields and names are still converted
        ('{"a":{"encoding":1e400}}', "number out of range at line 1 column 22"),
        ('{"a":{"\\ud800":1}}', "unexpected end of hex escape at line 1 column 14"),
        # after the third element of a rule array
        ('{"a":[1,1,0.5 x]}', "trailing characters at line 1 column 15"),
        ('{"a":[1,1,0.5,', "trailing characters at line 1 column 14"),
        ('{"a":[1,1,0.5,]}', "trailing comma at line 1 column 15"),
        ('{"a":[1,1,0.5,0]}', "trailing characters at line 1 column 15"),
        ('{"a":[1 x]}', "expected `,` or `]` at line 1 column 9"),
    ],
)  # fmt: skip
def test_skipped_members_are_checked_for_grammar_only(rules, outcome):
    payload = '{"a":"x"}'
    if "at line" not in outcome:
        schema = '{"properties":{"a":{' + outcome + '"properties":{},"type":2}},"type":6}'
        assert run(rules, payload)[3] == schema
    else:
        assert error_of(rules, payload) == "invalid json: " + outcome


def test_bad_payload_is_reported_before_bad_rules():
    assert error_of("null", payload="[1,]") == "invalid json: trailing comma at line 1 column 4"


def test_skipped_member_nested_a_million_deep():
    depth = 10**6
    deep = "[" * depth + "{}" + "]" * depth
    assert run('{"a": {"x": ' + deep + ', "encoding": 1}}')[3] == schema_of_a('"encoding":1,')
    # still checked for well-formedness, to the end
    assert error_of('{"a": {"x": ' + "[" * depth + "1}}") == (
        "invalid json: expected `,` or `]` at line 1 column %d" % (12 + depth + 2)
    )


# ---- random rule documents against a model of the rules ---------------------

KNOWN = ("encoding", "decoded_type", "match_importance")
# Numbers whose text every reader converts exactly, plus the integer limits.
ints = (
    st.integers(-(2**63), 2**64 - 1)
    | st.integers(-(2**31) - 2, 2**31 + 1)
    | st.sampled_from([2**64, -(2**63) - 1])
)
floats = st.integers(-(2**20), 2**20).map(lambda i: i / 64) | st.sampled_from([-0.0, 1e300, 1.5e-7])
scalars = st.one_of(st.none(), st.booleans(), ints, floats, st.text(max_size=4))
values = json_values(scalars, st.text(max_size=3), 3, 5)
fields = st.one_of(
    st.none(), st.integers(-3, 3), floats, values, st.sampled_from([2**31, -(2**31) - 1, 2**31 - 1, -(2**31)])
)
rule_objects = st.lists(st.tuples(st.sampled_from((*KNOWN, "other")), fields), min_size=1, max_size=4)
rule_arrays = st.lists(fields, max_size=4)
rules = st.integers(0, 9).flatmap(lambda i: scalars if i == 0 else rule_arrays if i < 4 else rule_objects)
documents = st.lists(st.tuples(st.sampled_from(["a", "b"]), rules), max_size=3)

BIG = {2**64: "1.8446744073709552e+19", -(2**63) - 1: "-9.223372036854776e+18"}


def found(v):
    if v is None:
        return "null"
    if isinstance(v, bool):
        return "boolean `%s`" % ("true" if v else "false")
    if isinstance(v, int):
        return "floating point `%s`" % BIG[v] if v in BIG else "integer `%d`" % v
    if isinstance(v, float):
        return "floating point `%s`" % q.normalize_json(json.dumps(v))
    if isinstance(v, str):
        named = {'"': '\\"', "\\": "\\\\", "\0": "\\0", "\t": "\\t", "\n": "\\n", "\r": "\\r"}
        out = "".join(
            named.get(c) or ("\\u{%x}" % ord(c) if ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F else c) for c in v
        )
        return 'string "%s"' % out
    return "sequence" if isinstance(v, list) else "map"


def model(doc):
    """The annotations per name, or the message of the first fault."""
    out = {}
    for name, rule in doc:
        if isinstance(rule, list) and rule and isinstance(rule[0], tuple):
            items, seen = rule, set()
        elif isinstance(rule, list):
            items, seen = list(zip(KNOWN, rule, strict=False)), None
        else:
            return "invalid type: %s, expected struct MergeRule" % found(rule)
        fields = {}
        for key, v in items:
            if key not in KNOWN:
                continue
            if seen is not None:
                if key in seen:
                    return "duplicate field `%s`" % key
                seen.add(key)
            number = isinstance(v, (int, float)) and not isinstance(v, bool)
            if v is None:
                fields.pop(key, None)
            elif key == "match_importance":
                if not number:
                    return "invalid type: %s, expected f64" % found(v)
                fields[key] = repr(float(v))
            elif not number or isinstance(v, float) or v in BIG:
                return "invalid type: %s, expected i32" % found(v)
            elif not -(2**31) <= v < 2**31:
                return "invalid value: %s, expected i32" % found(v)
            else:
                fields[key] = repr(v)
        if seen is None and len(rule) > 3:
            return "trailing characters"
        out[name] = fields
    return out


def render(doc):
    def rule_text(rule):
        if isinstance(rule, list) and rule and isinstance(rule[0], tuple):
            return "{" + ", ".join("%s: %s" % (json.dumps(k), json.dumps(v)) for k, v in rule) + "}"
        return json.dumps(rule)

    return "{" + ", ".join("%s: %s" % (json.dumps(n), rule_text(r)) for n, r in doc) + "}"


@settings(max_examples=500, deadline=None)
@given(documents)
def test_random_rule_documents_follow_the_model(doc):
    expected = model(doc)
    text = render(doc)
    if isinstance(expected, str):
        message = error_of(text, payload='{"a":0,"b":0}')
        assert message.startswith("invalid json: " + expected + " at line 1 column ")
        return
    schema = json.loads(run(text, payload='{"a":0,"b":0}')[3])
    for name in ("a", "b"):
        got = {k: repr(v) for k, v in schema["properties"][name].items() if k in KNOWN}
        assert got == expected.get(name, {})
