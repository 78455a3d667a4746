"""process_export_payload: normalized and merged texts, schema, hashes and
Struct bytes, and its failures."""

import hashlib
import json

import pytest
from google.protobuf import struct_pb2
from hypothesis import given, settings, strategies as st
from support.strategies import json_values, scalars

import quarn_core as q


def sha(text):
    return hashlib.sha256(text.encode()).hexdigest()


def leaf(code):
    return '{"properties":{},"type":%d}' % code


def obj(props):
    return '{"properties":{' + props + '},"type":6}'


N, S, B, NULL = leaf(1), leaf(2), leaf(3), leaf(4)

WORKED = ('{"b":[1,"x"],"a":"eyJ4IjoxfQ=="}', '{"a":{"encoding":1,"decoded_type":1,"match_importance":2}}')


def test_worked_example():
    r = q.process_export_payload(*WORKED)
    assert r[0] == '{"a":"eyJ4IjoxfQ==","b":[1,"x"]}'
    assert r[1] == '{"a":{"x":1},"b":[1,"x"]}'
    assert r[3] == (
        '{"properties":{"a":{"decoded_type":1,"encoding":1,"match_importance":2.0,'
        '"properties":{"x":{"properties":{},"type":1}},"type":6},'
        '"b":{"items":{"properties":{},"type":1},"properties":{},"type":7}},"type":6}'
    )
    assert r[2] == sha(r[1]) and r[4] == sha(r[3])
    assert [type(x) for x in r] == [str, str, str, str, str, bytes]


DEEP = "[" * 127 + "]" * 127


@pytest.mark.parametrize(
    "payload, rules, merged, schema",
    [
        ("1", None, "1", N),
        (' { "b" : 1 ,\n "a" : [ ] } ', "{}", '{"a":[],"b":1}', obj('"a":' + leaf(7) + ',"b":' + N)),
        ("[1,2]", '{"a":[1,1]}', "[1,2]", '{"items":' + N + ',"properties":{},"type":7}'),
        ('[1,"a"]', None, '[1,"a"]', '{"items":' + N + ',"properties":{},"type":7}'),
        ("null", '{"a":[1,1]}', "null", NULL),
        ('"text"', '{"a":[1,1]}', '"text"', S),
        ('{"i":1,"f":1.5,"n":-3,"t":true,"z":null}', None, '{"f":1.5,"i":1,"n":-3,"t":true,"z":null}',
         obj('"f":%s,"i":%s,"n":%s,"t":%s,"z":%s' % (N, N, N, B, NULL))),
        # a rule for a member the payload lacks changes nothing
        ('{"b":1}', '{"a":[1,1,1]}', '{"b":1}', obj('"b":' + N)),
        # annotations even where nothing was decoded
        ('{"a":5}', '{"a":{"encoding":1}}', '{"a":5}', obj('"a":{"encoding":1,"properties":{},"type":1}')),
        ('{"a":"x"}', '{"a":{"encoding":2,"decoded_type":0}}', '{"a":"x"}',
         obj('"a":{"decoded_type":0,"encoding":2,"properties":{},"type":2}')),
        ('{"a":"x"}', '{"a":{"encoding":-1}}', '{"a":"x"}', obj('"a":{"encoding":-1,"properties":{},"type":2}')),
        # Base64 fails on the bracket, the JSON step still parses
        ('{"a":"[1,2]"}', '{"a":[1,1]}', '{"a":[1,2]}',
         obj('"a":{"decoded_type":1,"encoding":1,"items":' + N + ',"properties":{},"type":7}')),
        # Base64 gives hello, the JSON step fails, the decoded string stays
        ('{"a":"aGVsbG8="}', '{"a":[1,1]}', '{"a":"hello"}', obj('"a":{"decoded_type":1,"encoding":1,"properties":{},"type":2}')),
        ('{"a":"{\\"k\\": true}"}', '{"a":[null,1]}', '{"a":{"k":true}}', obj('"a":{"decoded_type":1,"properties":{"k":%s},"type":6}' % B)),
        ('{"a":"not json"}', '{"a":[null,1]}', '{"a":"not json"}', obj('"a":{"decoded_type":1,"properties":{},"type":2}')),
        ('{"a":"\\"\\\\\\"hi\\\\\\"\\""}', '{"a":[null,1]}', '{"a":"\\"hi\\""}', obj('"a":{"decoded_type":1,"properties":{},"type":2}')),
        ('{"a":" [1] \\n"}', '{"a":[null,1]}', '{"a":[1]}', obj('"a":{"decoded_type":1,"items":%s,"properties":{},"type":7}' % N)),
        ('{"a":"[1] x"}', '{"a":[null,1]}', '{"a":"[1] x"}', obj('"a":{"decoded_type":1,"properties":{},"type":2}')),
        ('{"a":"1e400"}', '{"a":[null,1]}', '{"a":"1e400"}', obj('"a":{"decoded_type":1,"properties":{},"type":2}')),
        ('{"a":"1.0"}', '{"a":[null,1]}', '{"a":1.0}', obj('"a":{"decoded_type":1,"properties":{},"type":1}')),
        # nested names equal to a rule's name are neither decoded nor annotated
        ('{"a":{"a":"aGk="},"b":["aGk="]}', '{"a":[1],"b":[1]}', '{"a":{"a":"aGk="},"b":["aGk="]}',
         obj('"a":{"encoding":1,"properties":{"a":%s},"type":6},"b":{"encoding":1,"items":%s,"properties":{},"type":7}'
             % (S, S))),
        # several rules, in name order, some naming no member
        ('{"d":"ZA==","c":"Yw==","b":"Yg==","a":"YQ=="}', '{"d":[1],"b":[1],"zz":[1],"0":[1]}',
         '{"a":"YQ==","b":"b","c":"Yw==","d":"d"}',
         obj('"a":%s,"b":{"encoding":1,"properties":{},"type":2},"c":%s,"d":{"encoding":1,"properties":{},"type":2}'
             % (S, S))),
        ('{"a.b":"YQ==","a":{"b":"YQ=="}}', '{"a.b":[1]}', '{"a":{"b":"YQ=="},"a.b":"a"}',
         obj('"a":{"properties":{"b":%s},"type":6},"a.b":{"encoding":1,"properties":{},"type":2}' % S)),
        # the decoded document gets the parser's full nesting limit of its own
        ('{"a":"%s"}' % DEEP, '{"a":[null,1]}', '{"a":%s}' % DEEP, None),
        ('{"a":"[%s]"}' % DEEP, '{"a":[null,1]}', '{"a":"[%s]"}' % DEEP, None),
    ],
)  # fmt: skip
def test_processing_table(payload, rules, merged, schema):
    r = q.process_export_payload(payload, rules)
    assert r[0] == q.normalize_json(payload)
    assert r[1] == merged
    if schema is not None:
        assert r[3] == schema
    assert r[2] == sha(r[1]) and r[4] == sha(r[3])


@pytest.mark.parametrize("rules", [None, "{}", '{"zz":[1,1,1]}'])
def test_without_effective_rules_merged_is_normalized(rules):
    payload = '{"b":[1.50,{"y":null}],"a":"eyJ4IjoxfQ=="}'
    r = q.process_export_payload(payload, rules)
    assert r[0] == r[1] == '{"a":"eyJ4IjoxfQ==","b":[1.5,{"y":null}]}'
    assert r[2] == q.deterministic_hash(payload)
    assert "encoding" not in r[3]


# ---- Struct bytes -------------------------------------------------------------


@pytest.mark.parametrize(
    "payload, hexbytes",
    [
        ('{"b":1,"a":null}', "0a070a016112020800" + "0a0e0a0162120911000000000000f03f"),
        ('{"":true}', "0a0412022001"),
        ('{"x":[]}', "0a070a017812023200"),
        ("[1,2]", ""),
        ('"text"', ""),
        ("null", ""),
    ],
)
def test_struct_bytes_table(payload, hexbytes):
    assert q.process_export_payload(payload, None)[5].hex() == hexbytes


# Keys are not empty here: protobuf writes an empty map key, the module leaves it
# out (the table above pins that).
keys = st.text(min_size=1, max_size=3)


@settings(max_examples=200, deadline=None)
@given(st.dictionaries(keys, json_values(scalars(st.text(max_size=3)), keys, 3, 8), max_size=4))
def test_struct_bytes_of_the_normalized_payload_not_the_merged(value):
    value["m"] = "eyJ4IjoxfQ=="
    r = q.process_export_payload(json.dumps(value), '{"m":[1,1]}')
    expected = struct_pb2.Struct()
    expected.update(json.loads(r[0]))
    assert r[5] == expected.SerializeToString(deterministic=True)
    assert json.loads(r[1])["m"] == {"x": 1}


# ---- failures -----------------------------------------------------------------


def error(payload, rules):
    with pytest.raises(ValueError) as info:
        q.process_export_payload(payload, rules)
    assert type(info.value) is ValueError
    return info.value.args[0]


@pytest.mark.parametrize(
    "payload, rules, message",
    [
        ("", None, "invalid json: EOF while parsing a value at line 1 column 0"),
        ("[1,]", "{", "invalid json: trailing comma at line 1 column 4"),
        ("{}", "", "invalid json: EOF while parsing a value at line 1 column 0"),
        ("{}", "null", "invalid json: invalid type: null, expected a map at line 1 column 4"),
        ("{", "{}", "invalid json: EOF while parsing an object at line 1 column 1"),
    ],
)
def test_failure_table(payload, rules, message):
    assert error(payload, rules) == message


def test_schema_merges_argument_is_required():
    with pytest.raises(TypeError, match="schema_merges_json"):
        q.process_export_payload("{}")


json_text = st.text(alphabet='{}[],:"\\ 01-.eE5nultrfase\n\x01\u00e9', max_size=30)


@settings(max_examples=500, deadline=None)
@given(json_text, st.one_of(st.none(), json_text))
def test_texts_of_any_shape_give_a_result_or_the_exact_error(payload, rules):
    try:
        expected = q.normalize_json(payload)
    except ValueError as e:
        assert error(payload, rules) == e.args[0]
        return
    try:
        r = q.process_export_payload(payload, rules)
    except ValueError as e:
        assert rules is not None and e.args[0].startswith("invalid json: ")
        assert e.args[0] == error("{}", rules)
        return
    assert r[0] == expected and r[2] == sha(r[1]) and r[4] == sha(r[3])
