"""process_export_payload_pyobject against its text twin process_export_payload."""

import base64
import hashlib
import json
import sys
from decimal import Decimal

import pytest
from google.protobuf import struct_pb2
from hypothesis import given, settings, strategies as st
from support.objects import DictSub, TupleSub, nest, strict
from support.strategies import finite_floats, json_values, scalars

import quarn_core

run = quarn_core.process_export_payload_pyobject


def via_text(payload_text, merges_text):
    """The text entry's result in the object entry's shape."""
    n, _, vh, schema, sh, struct = quarn_core.process_export_payload(payload_text, merges_text)
    return json.loads(n), vh, json.loads(schema), sh, struct


def same(a, b):
    return strict(a[0], b[0]) and a[1] == b[1] and strict(a[2], b[2]) and a[3:] == b[3:]


def test_worked_example():
    schema = (
        '{"properties":{"a":{"decoded_type":1,"encoding":1,"match_importance":2.0,"properties":{"x":'
        '{"properties":{},"type":1}},"type":6},"b":{"items":{"properties":{},"type":1},"properties":{},'
        '"type":7}},"type":6}'
    )
    result = run(
        {"b": [1, "x"], "a": "eyJ4IjoxfQ=="}, {"a": {"encoding": 1, "decoded_type": 1, "match_importance": 2}}
    )
    oracle = struct_pb2.Struct()
    oracle.update({"a": "eyJ4IjoxfQ==", "b": [1, "x"]})
    assert same(
        result,
        (
            {"a": "eyJ4IjoxfQ==", "b": [1, "x"]},
            hashlib.sha256(b'{"a":{"x":1},"b":[1,"x"]}').hexdigest(),
            json.loads(schema),
            hashlib.sha256(schema.encode()).hexdigest(),
            oracle.SerializeToString(deterministic=True),
        ),
    )


BODY = {"body": "eyJ4IjoxfQ==", "n": 1}
NAMES = {"abcdefgh-2-abcdefgh": [{"abcdefgh-1-abcdefgh": 1, "abcd-2-abcd": 2}], "abcdefgh-1-abcdefgh": "v",
         "abcd-1-abcd": {"abcd-2-abcd": True}, "n" * 33: {"n" * 34: 1, "n" * 33: 2}, "": {"": None}}  # fmt: skip

# (payload, merges) and the (payload text, merges text) they must process like
LIKE_TEXT = [
    (None, None, "null", None),
    ((1, 2), None, "[1,2]", None),
    ([float("nan"), float("inf")], None, "[null,null]", None),
    ({"b": 1, "a": [1, 2]}, None, '{"b":1,"a":[1,2]}', None),
    ({"t": True, "z": -0.0, "f": 1.0}, None, '{"t":true,"z":-0.0,"f":1.0}', None),
    (2**63, None, "9.223372036854776e+18", None),  # beyond the signed 64-bit range: a double
    (nest(127, lambda v: {"k": v}), None, "{\"k\":" * 127 + "0" + "}" * 127, None),  # a schema 255 levels deep
    (DictSub(body=TupleSub(("eyJ4IjoxfQ==",))), None, '{"body":["eyJ4IjoxfQ=="]}', None),
    # names alike in length and in their first and last eight bytes, and names too long to share
    (NAMES, None, json.dumps(NAMES), None),
    (BODY, {}, json.dumps(BODY), None),
    (BODY, {"body": (1, 1)}, json.dumps(BODY), '{"body":{"encoding":1,"decoded_type":1}}'),
    (BODY, {"body": [2, 0, 0.5]}, json.dumps(BODY), '{"body":{"encoding":2,"decoded_type":0,"match_importance":0.5}}'),
    (BODY, {"body": {"match_importance": float("nan")}}, json.dumps(BODY), '{"body":{}}'),
    (BODY, DictSub(body=TupleSub((1,))), json.dumps(BODY), '{"body":[1]}'),
    (BODY, {"body": {"x": nest(500, lambda v: [v])}}, json.dumps(BODY), '{"body":{}}'),
]  # fmt: skip


@pytest.mark.parametrize("payload, merges, payload_text, merges_text", LIKE_TEXT)
def test_processes_like_its_text(payload, merges, payload_text, merges_text):
    assert same(run(payload, merges), via_text(payload_text, merges_text))


FAILURES = [
    (BODY, {"body": {"encoding": 1.0}}, "invalid json: invalid type: floating point `1.0`, expected i32 at line 1 column 23"),
    (BODY, {"body": {"encoding": True}}, "invalid json: invalid type: boolean `true`, expected i32 at line 1 column 24"),
    (BODY, {"body": {"encoding": 2**31}}, "invalid json: invalid value: integer `2147483648`, expected i32 at line 1 column 30"),
    (BODY, {"body": (1, 1, 0.5, 0)}, "invalid json: trailing characters at line 1 column 18"),
    (BODY, [], "invalid json: invalid type: sequence, expected a map at line 1 column 0"),
    (BODY, "x", 'invalid json: invalid type: string "x", expected a map at line 1 column 3'),
    (BODY, 5, "invalid json: invalid type: integer `5`, expected a map at line 1 column 1"),
    (nest(128, lambda v: [v]), None, "serialization error: recursion limit exceeded at line 1 column 128"),
    (nest(127, lambda v: [v]), [], "invalid json: invalid type: sequence, expected a map at line 1 column 0"),
    (set(), {1: 2}, TypeError("unsupported value type for Rust export payload processing")),
    ({}, {1: 2}, TypeError("'int' object cannot be cast as 'str'")),
]  # fmt: skip


@pytest.mark.parametrize("payload, merges, error", FAILURES)
def test_first_failure_wins(payload, merges, error):
    error = error if isinstance(error, Exception) else ValueError(error)
    with pytest.raises(Exception) as e:
        run(payload, merges)
    assert type(e.value) is type(error) and e.value.args == error.args


def test_arguments_and_references():
    rule, bad = (1, 1), {"body": {"encoding": 1.5}}
    merges = {"body": rule}
    before = [sys.getrefcount(o) for o in (rule, merges, bad)]
    for _ in range(3):
        assert same(
            run(schema_merges=merges, payload=BODY), run(BODY, {"body": {"encoding": 1, "decoded_type": 1}})
        )
        with pytest.raises(ValueError):
            run(BODY, bad)
    assert [sys.getrefcount(o) for o in (rule, merges, bad)] == before
    with pytest.raises(TypeError) as e:
        run({})
    assert e.value.args == (
        "process_export_payload_pyobject() missing 1 required positional argument: 'schema_merges'",
    )


# Doubles whose shortest digits the module reads back as a neighbour (see reads_back).
MOVED = [-7.312715117751976e-237, 3.9166573353688696e-29, -9.553557779573523e253]


@pytest.mark.parametrize("x", MOVED)
def test_normalized_payload_holds_what_was_hashed(x):
    assert not reads_back(x)
    normalized, value_hash = run({"a": x, "b": [x, "s"]}, None)[:2]
    text = json.dumps(normalized, separators=(",", ":"))
    assert hashlib.sha256(text.encode()).hexdigest() == value_hash and normalized["a"] != x


def reads_back(x):
    """Whether the module's number reader turns the shortest digits of x into x again.

    It scales the digits by powers of ten held as doubles, so some doubles read back
    as a neighbour; the text path reads its input once more than the object path."""
    sign, digits, e = Decimal(repr(x)).as_tuple()
    f = float(int("".join(map(str, digits))))
    while abs(e) > 308 and f != 0:
        f, e = f / 1e308, e + 308
    if f != 0:
        f = f * float(10**e) if e >= 0 else f / float(10**-e)
    return (-f if sign else f) == x


values = json_values(
    scalars(st.text(max_size=8), ints=(-(2**63), 2**63 - 1), floats=finite_floats.filter(reads_back)),
    st.text(max_size=4),
    4,
    12,
)
encoded = values.map(json.dumps) | values.map(lambda v: base64.b64encode(json.dumps(v).encode()).decode())
names = st.sampled_from(["a", "body", "é", "x.y"])
codes = st.sampled_from([None, 0, 1, 2, -1, 2**31 - 1, -(2**31), 2**31])
weights = st.sampled_from([None, 0.5, 2, -1.5, 1e300])
rules = st.fixed_dictionaries(
    {}, optional={"encoding": codes, "decoded_type": codes, "match_importance": weights}
) | st.tuples(codes, codes, weights).flatmap(lambda t: st.integers(0, 3).map(lambda n: t[:n]))


@settings(max_examples=300, deadline=None)
@given(
    st.dictionaries(names, values | encoded, max_size=4) | values,
    st.none() | st.dictionaries(names, rules, max_size=3),
)
def test_agrees_with_the_text_entry(payload, merges):
    def outcome(f):
        try:
            return "ok", f()
        except ValueError as e:
            return "error", e.args

    obj = outcome(lambda: run(payload, merges))
    text = (
        None
        if merges is None
        else json.dumps(merges, sort_keys=True, separators=(",", ":"), ensure_ascii=False)
    )
    txt = outcome(lambda: via_text(json.dumps(payload), text))
    assert obj[0] == txt[0] and (obj[1] == txt[1] if obj[0] == "error" else same(obj[1], txt[1]))
