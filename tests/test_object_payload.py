"""process_export_payload_pyobject against its text twin process_export_payload."""

import base64
import hashlib
import json
import sys
from decimal import Decimal

import pytest
from google.protobuf import struct_pb2
from hypothesis import given, settings
from hypothesis import strategies as st

import quarn_core
from test_pybridge import DictSub, TupleSub, nest, strict

run = quarn_core.process_export_payload_pyobject


def via_text(payload_text, merges_text):
    """The text entry's result in the object entry's shape."""
    n, _, vh, schema, sh, struct = quarn_core.process_export_payload(payload_text, merges_text)
    return json.loads(n), vh, json.loads(schema), sh, struct


def same(a, b):
    return strict(a[0], b[0]) and a[1] == b[1] and strict(a[2], b[2]) and a[3:] == b[3:]


def canonical(merges):
    return json.dumps(merges, sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def test_worked_example():
    schema = (
        '{"properties":{"a":{"decoded_type":1,"encoding":1,"match_importance":2.0,"properties":{"x":'
        '{"properties":{},"type":1}},"type":6},"b":{"items":{"properties":{},"type":1},"properties":{},'
        '"type":7}},"type":6}'
    )
    normalized, value_hash, schema_obj, schema_hash, struct = run(
        {"b": [1, "x"], "a": "eyJ4IjoxfQ=="}, {"a": {"encoding": 1, "decoded_type": 1, "match_importance": 2}}
    )
    assert strict(normalized, {"a": "eyJ4IjoxfQ==", "b": [1, "x"]})
    assert value_hash == hashlib.sha256(b'{"a":{"x":1},"b":[1,"x"]}').hexdigest()
    assert strict(schema_obj, json.loads(schema)) and schema_obj["properties"]["a"]["match_importance"] == 2.0
    assert schema_hash == hashlib.sha256(schema.encode()).hexdigest()
    oracle = struct_pb2.Struct()
    oracle.update({"a": "eyJ4IjoxfQ==", "b": [1, "x"]})
    assert struct == oracle.SerializeToString(deterministic=True)


# Payload objects and the JSON text they must process like.
PAYLOADS = [
    (None, "null"),
    ((1, 2), "[1,2]"),
    ([float("nan"), float("inf")], "[null,null]"),
    ({"b": 1, "a": [1, 2]}, '{"b":1,"a":[1,2]}'),
    ({"t": True, "z": -0.0, "f": 1.0}, '{"t":true,"z":-0.0,"f":1.0}'),
    (2**63, "9.223372036854776e+18"),  # beyond the signed 64-bit range: a double, not an integer
    (DictSub(body=TupleSub(("eyJ4IjoxfQ==",))), '{"body":["eyJ4IjoxfQ=="]}'),
]


@pytest.mark.parametrize("payload, text", PAYLOADS)
def test_payload_processes_like_its_text(payload, text):
    assert same(run(payload, None), via_text(text, None))


BODY = {"body": "eyJ4IjoxfQ==", "n": 1}

# Merges objects and the merges text they must work like.
MERGES = [
    ({}, None),
    ({"body": (1, 1)}, '{"body":{"encoding":1,"decoded_type":1}}'),
    ({"body": [2, 0, 0.5]}, '{"body":{"encoding":2,"decoded_type":0,"match_importance":0.5}}'),
    ({"body": {"match_importance": float("nan")}}, '{"body":{}}'),
    (DictSub(body=TupleSub((1,))), '{"body":[1]}'),
    ({"body": {"x": nest(500, lambda v: [v], 0)}}, '{"body":{}}'),
]


@pytest.mark.parametrize("merges, text", MERGES)
def test_merges_work_like_their_text(merges, text):
    assert same(run(BODY, merges), via_text(json.dumps(BODY), text))


MERGE_ERRORS = [
    ({"body": {"encoding": 1.0}}, "invalid type: floating point `1.0`, expected i32 at line 1 column 23"),
    ({"body": {"encoding": True}}, "invalid type: boolean `true`, expected i32 at line 1 column 24"),
    ({"body": {"encoding": 2**31}}, "invalid value: integer `2147483648`, expected i32 at line 1 column 30"),
    ({"body": (1, 1, 0.5, 0)}, "trailing characters at line 1 column 18"),
    ([], "invalid type: sequence, expected a map at line 1 column 0"),
    ("x", 'invalid type: string "x", expected a map at line 1 column 3'),
    (5, "invalid type: integer `5`, expected a map at line 1 column 1"),
]


@pytest.mark.parametrize("merges, message", MERGE_ERRORS)
def test_merges_errors_count_in_the_printed_text(merges, message):
    with pytest.raises(ValueError) as e:
        run(BODY, merges)
    with pytest.raises(ValueError) as oracle:
        quarn_core.process_export_payload(json.dumps(BODY), canonical(merges))
    assert e.value.args == oracle.value.args == ("invalid json: " + message,)


FAILURES = [
    ((set(), {1: 2}), TypeError, "unsupported value type for Rust export payload processing"),
    (({}, {1: 2}), TypeError, "'int' object cannot be cast as 'str'"),
    ((nest(128, lambda v: [v], 0), None), ValueError,
     "serialization error: recursion limit exceeded at line 1 column 128"),
    ((nest(127, lambda v: [v], 0), []), ValueError,
     "invalid json: invalid type: sequence, expected a map at line 1 column 0"),
]


@pytest.mark.parametrize("args, exc, message", FAILURES)
def test_first_failure_wins(args, exc, message):
    with pytest.raises(exc) as e:
        run(*args)
    assert type(e.value) is exc and e.value.args == (message,)


def test_arguments():
    assert same(run(schema_merges=None, payload={"a": 1}), run({"a": 1}, None))
    with pytest.raises(TypeError) as e:
        run({})
    assert e.value.args == ("process_export_payload_pyobject() missing 1 required positional argument: "
                            "'schema_merges'",)


def test_merges_references_are_given_back():
    rule, bad = (1, 1), {"body": {"encoding": 1.5}}
    merges = {"body": rule}
    before = [sys.getrefcount(o) for o in (rule, merges, bad)]
    for _ in range(3):
        run(BODY, merges)
        with pytest.raises(ValueError):
            run(BODY, bad)
    assert [sys.getrefcount(o) for o in (rule, merges, bad)] == before


def reads_back(x):
    """Whether the module's number reader turns the shortest digits of x into x again.

    It scales the digits by powers of ten held as doubles, so some doubles read
    back as a neighbour; the text path reads its input once more than the object
    path and may then end elsewhere."""
    sign, digits, e = Decimal(repr(x)).as_tuple()
    f = float(int("".join(map(str, digits))))
    while abs(e) > 308 and f != 0:
        f, e = f / 1e308, e + 308
    if f != 0:
        f = f * float(10**e) if e >= 0 else f / float(10**-e)
    return (-f if sign else f) == x


scalars = (st.none() | st.booleans() | st.integers(-(2**63), 2**63 - 1)
           | st.floats(allow_nan=False, allow_infinity=False).filter(reads_back) | st.text(max_size=8))
values = st.recursive(scalars, lambda c: st.lists(c, max_size=4) | st.dictionaries(st.text(max_size=4), c, max_size=4),
                      max_leaves=12)
encoded = values.map(json.dumps) | values.map(lambda v: base64.b64encode(json.dumps(v).encode()).decode())
names = st.sampled_from(["a", "body", "é", "x.y"])
payloads = st.dictionaries(names, values | encoded, max_size=4) | values
codes = st.sampled_from([None, 0, 1, 2, -1, 2**31 - 1, -(2**31), 2**31])
weights = st.sampled_from([None, 0.5, 2, -1.5, 1e300])
rules = (st.fixed_dictionaries({}, optional={"encoding": codes, "decoded_type": codes, "match_importance": weights})
         | st.tuples(codes, codes, weights).flatmap(lambda t: st.integers(0, 3).map(lambda n: t[:n])))
merges = st.none() | st.dictionaries(names, rules, max_size=3)


@settings(max_examples=300, deadline=None)
@given(payloads, merges)
def test_agrees_with_the_text_entry(payload, m):
    def outcome(f):
        try:
            return "ok", f()
        except ValueError as e:
            return "error", e.args

    obj = outcome(lambda: run(payload, m))
    txt = outcome(lambda: via_text(json.dumps(payload), None if m is None else canonical(m)))
    assert obj[0] == txt[0]
    assert obj[1] == txt[1] if obj[0] == "error" else same(obj[1], txt[1])
