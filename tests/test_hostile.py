"""Hostile inputs: extreme nesting, huge numbers, strings, keys and Base64 members, lengths
near 2^64, overlong varints, broken groups, and Python objects that contain themselves,
change what is being converted, or raise from their conversion hooks. Every call ends in
its exact result or a clean exception with the module's exact text.

The cases of 50 MB and more are skipped under the sanitizer build (QUARN_SANITIZED=1).
"""

import base64
import gc
import hashlib
import subprocess
import sys
from decimal import Decimal

import pytest
from support.calls import (
    B64,
    INNER_CANONICAL,
    NUMBER,
    SANITIZED,
    STRING,
    STRUCT_DECODE,
    TOO_DEEP,
    UNSUPPORTED,
    sha,
    struct_oracle,
)
from support.interpreter import says
from support.objects import hook, nest, self_containing_dict, self_containing_list, via_tuple
from support.spans import span_args
from support.wire import ld, varint

import quarn_core as q

DECODE = "serialization error: failed to decode span proto bytes: failed to decode Protobuf message: "
MIB = 1 << 20
big = pytest.mark.skipif(SANITIZED, reason="sizes of 50 MB and more are left to the plain build")
MILLION = 10**6


def text_payload(payload, rules):
    return q.process_export_payload(payload, rules)


def object_payload(payload, rules):
    return q.process_export_payload_pyobject(payload, rules)


def span(**changes):
    return q.build_span_proto_bytes_pyobject(**span_args(**changes))


def export(spans):
    return q.build_export_spans_request_bytes_pyobject("", "", "", "", spans)


# The span builder's bytes for MINIMAL_SPAN, split around the input_value field.
HEAD = b"\x0a\x01t\x12\x01s\x22\x01n"
TAIL = b"\x52\x00\x5a\x00\x62\x00\x92\x01\x00\xa2\x01\x00\xaa\x01\x00\xba\x01\x00"


def schema_text(members):
    """Printed schema of a top-level object whose members have the given printed schemas."""
    return '{"properties":{' + ",".join(f'"{k}":{v}' for k, v in members) + '},"type":6}'


# ---- nesting a million deep -----------------------------------------------------------------


@pytest.mark.parametrize("call, args, message", [
    # as the payload of the text path: the reader's own limit
    (text_payload, ("[" * MILLION, None), "recursion limit exceeded at line 1 column 128"),
    (text_payload, ("[" * MILLION + "]" * MILLION, "{}"), "recursion limit exceeded at line 1 column 128"),
    (text_payload, ('{"a":' * MILLION, None), "recursion limit exceeded at line 1 column 636"),
    (text_payload, ('[{"a":' * (MILLION // 2), '{"a":[1]}'), "recursion limit exceeded at line 1 column 380"),
    # the payload is read before the rules: its fault wins over theirs
    (text_payload, ("[" * MILLION, "[" * MILLION), "recursion limit exceeded at line 1 column 128"),
    # as merge rules: the first fault in text order, found before any nesting limit
    (text_payload, ('{"a":"x"}', "[" * MILLION), "invalid type: sequence, expected a map at line 1 column 0"),
    (text_payload, ('{"a":"x"}', '{"a":' + "[" * MILLION), "invalid type: sequence, expected i32 at line 1 column 6"),
    (text_payload, ('{"a":"x"}', '{"a":[1,' + "{" * MILLION), "invalid type: map, expected i32 at line 1 column 8"),
    # an unknown member of a rule object is skipped without a nesting limit: to the end
    (text_payload, ('{"a":"x"}', '{"a":' * MILLION), f"EOF while parsing a value at line 1 column {5 * MILLION}"),
    (text_payload, ('{"a":"x"}', '{"a":{"b":' + "[" * MILLION + "]" * (MILLION - 1) + "}}"),
     f"expected `,` or `]` at line 1 column {10 + 2 * MILLION}"),
])  # fmt: skip
def test_million_deep_documents(call, args, message):
    with pytest.raises(ValueError) as info:
        call(*args)
    assert type(info.value) is ValueError and info.value.args == ("invalid json: " + message,)


def test_million_deep_skipped_object_in_a_rule():
    deep = '{"y":' * MILLION + "1" + "}" * MILLION
    result = text_payload('{"a":"x"}', '{"a":{"x":' + deep + ', "match_importance": 0.5}}')
    schema = schema_text([("a", '{"match_importance":0.5,"properties":{},"type":2}')])
    assert result[1:5] == ('{"a":"x"}', sha('{"a":"x"}'), schema, sha(schema))


@pytest.mark.parametrize("rules, annotations", [('{"a":[null,1]}', '"decoded_type":1,'),
                                               ('{"a":[1,1]}', '"decoded_type":1,"encoding":1,')])  # fmt: skip
def test_million_deep_member_stays_undecoded(rules, annotations):
    # The member's JSON is too deep for its own parse (and no Base64): the string stays.
    payload = '{"a":"' + "[" * MILLION + "]" * MILLION + '"}'
    normalized, merged, value_hash, schema = text_payload(payload, rules)[:4]
    assert normalized == merged == payload and value_hash == sha(payload)
    assert schema == schema_text([("a", "{" + annotations + '"properties":{},"type":2}')])


@pytest.mark.parametrize("wrap", [lambda v: [v], lambda v: {"k": v}, lambda v: (v,)])
def test_million_deep_python_objects(wrap):
    deep = nest(MILLION, wrap)
    for call in (
        lambda: object_payload(deep, None),
        lambda: object_payload({}, {"a": deep}),
        lambda: span(metadata={"m": deep}),
        lambda: span(input_schema={"items": deep}),
        lambda: span(output_value=deep, output_value_proto_struct_bytes=b""),
    ):
        with pytest.raises(RecursionError) as info:
            call()
        assert type(info.value) is RecursionError and info.value.args == (TOO_DEEP,)


@pytest.mark.parametrize("call, data, message", [
    (lambda d: export([d]), b"\xfb\x07" * MILLION + b"\xfc\x07" * MILLION, DECODE + "recursion limit reached"),
    (lambda d: export([d]), b"\xfb\x07" * MILLION, DECODE + "recursion limit reached"),
    (lambda d: span(input_value_proto_struct_bytes=d), b"\x1b" * MILLION + b"\x1c" * MILLION,
     STRUCT_DECODE + "recursion limit reached"),
    (lambda d: span(output_value_proto_struct_bytes=d), b"\x1b" * MILLION, STRUCT_DECODE + "recursion limit reached"),
])  # fmt: skip
def test_million_deep_groups(call, data, message):
    with pytest.raises(ValueError) as info:
        call(data)
    assert info.value.args == (message,)


# ---- numbers of a million digits --------------------------------------------------------------


@pytest.mark.parametrize("text, expected", [
    ("1e" + "0" * (MILLION - 1) + "5", "100000.0"),          # leading zeros of the exponent
    ("-2E+" + "0" * MILLION, "-2.0"),
    ("0e" + "9" * MILLION, "0.0"),                           # a refused exponent digit with S = 0
    ("-1e-" + "9" * MILLION, "-0.0"),                        # ... or a negative exponent
    ("[1." + "0" * MILLION + "e" + "0" * MILLION + "]", "[1.0]"),
    ('{"n":-' + "1" * 20 + "." + "5" * MILLION + "e-" + "0" * (MILLION - 2) + "20}", '{"n":-0.1111111111111111}'),
])  # fmt: skip
def test_million_digit_exponents(text, expected):
    assert q.normalize_json(text) == expected
    assert q.deterministic_hash(text) == sha(expected)


@pytest.mark.parametrize("text, column", [
    ("1e" + "1" * MILLION, 13),                              # the eleventh exponent digit is refused
    ("[0.5E+" + "9" * MILLION + "]", 16),                   # the tenth, E being 999999999 already
    ("1" + "0" * MILLION + "e+" + "1" * MILLION, MILLION + 1 + 2 + 11),  # after a million dropped digits
])  # fmt: skip
def test_million_digit_numbers_out_of_range(text, column):
    with pytest.raises(ValueError) as info:
        q.normalize_json(text)
    assert info.value.args == (f"invalid json: number out of range at line 1 column {column}",)


@pytest.mark.parametrize("rule, outcome", [
    # columns: '{"a":[' is 6 bytes
    ("[" + "1" * MILLION + "]", f"number out of range at line 1 column {6 + MILLION}"),
    ("[1" + "0" * MILLION + "e-" + str(MILLION) + "]", f"invalid type: floating point `1.0`, expected i32 at line "
                                                      f"1 column {6 + 1 + MILLION + 2 + 7}"),
    ("[-" + "9" * 30 + "]", "invalid type: floating point `-1e+30`, expected i32 at line 1 column 37"),
    ("[null, null, 0." + "0" * MILLION + "1]", '{"match_importance":0.0,"properties":{},"type":2}'),
    ("[null, null, " + "2" * MILLION + "e-" + str(MILLION - 1) + "]", '{"match_importance":2.2222222222222223,'
                                                                    '"properties":{},"type":2}'),
])  # fmt: skip
def test_million_digit_numbers_in_merge_rules(rule, outcome):
    try:
        result = text_payload('{"a":"x"}', '{"a":' + rule + "}")
    except ValueError as e:
        assert e.args == ("invalid json: " + outcome,)
    else:
        assert result[3] == schema_text([("a", outcome)])


def test_million_digit_python_numbers():
    huge = 10**MILLION
    with pytest.raises(TypeError) as info:
        object_payload([1, huge], None)
    assert info.value.args == (UNSUPPORTED,)
    # A Decimal reads as infinity through the float protocol: null.
    assert object_payload([Decimal("9" * MILLION), Decimal("0." + "0" * MILLION + "1")], None)[0] == [
        None,
        0.0,
    ]
    with pytest.raises(OverflowError):
        span(timestamp_seconds=huge)
    with pytest.raises(OverflowError):
        span(kind=hook(index=lambda s: -huge))


# ---- strings of 100 MB, keys of 1 MB, Base64 members of 50 MB -----------------------------------


@big
def test_hundred_megabyte_string_document():
    # Each unit is 24 bytes of JSON text and prints as 'abé\n/\"€\u001f ' (escapes normalized).
    unit_in, unit_out = 'ab\\u00e9\\n\\/\\"\u20ac\\u001F ', 'ab\u00e9\\n/\\"\u20ac\\u001f '
    count = 100 * MIB // len(unit_in.encode())
    text = '"' + unit_in * count + '"'
    expected = '"' + unit_out * count + '"'
    digest = hashlib.sha256(expected.encode()).hexdigest()
    assert q.deterministic_hash(text) == digest
    assert q.normalize_and_hash(text) == (expected, digest)
    del text
    assert q.normalize_json(expected) == expected
    assert q.object_to_protobuf_struct_bytes(expected) == b""


@big
def test_hundred_megabyte_string_through_objects_spans_and_export():
    s = "\u00e9" * (50 * MIB)  # 100 MB of UTF-8
    value = ld(b"\x1a", s.encode())
    struct = ld(b"\x0a", b"\x0a\x01k" + ld(b"\x12", value))
    normalized, value_hash, schema, schema_hash, raw = object_payload({"k": s}, {"k": [1, 1]})
    assert normalized == {"k": s} and raw == struct
    assert value_hash == hashlib.sha256(('{"k":"' + s + '"}').encode()).hexdigest()
    assert schema == {
        "type": 6,
        "properties": {"k": {"type": 2, "encoding": 1, "decoded_type": 1, "properties": {}}},
    }
    del normalized, raw
    built = span(input_value={"k": s})
    assert built == HEAD + ld(b"\x4a", struct) + TAIL
    assert span(input_value_proto_struct_bytes=struct) == built
    del struct
    gc.collect()
    assert export([built]) == ld(b"\x2a", built)


def test_megabyte_keys():
    k1, k2, k3 = "k" * (MIB - 1) + "b", "k" * (MIB - 1) + "a", "\u00e9" * (MIB // 2)
    text = '{"%s":1,"%s":2,"%s":3,"%s":4}' % (k1, k2, k3, k1)
    canonical = '{"%s":2,"%s":4,"%s":3}' % (k2, k1, k3)
    assert q.normalize_and_hash(text) == (canonical, sha(canonical))
    assert q.object_to_protobuf_struct_field_count(text) == 3
    assert q.object_to_protobuf_struct_bytes(text) == struct_oracle({k1: 4, k2: 2, k3: 3})
    # A rule named by a 1 MB name, its first letter escaped in the rules text.
    payload = '{"%s":"%s","%s":"x"}' % (k1, B64, k2)
    merged = '{"%s":"x","%s":%s}' % (k2, k1, INNER_CANONICAL)
    result = text_payload(payload, '{"\\u006b%s":[1,1]}' % k1[1:])
    assert result[1:3] == (merged, sha(merged))
    assert object_payload({k1: B64, k2: "x"}, {k1: (1, 1)})[1] == sha(merged)
    built = span(metadata={k3: 1, k1: None})
    assert built == HEAD + ld(b"\x4a", b"") + TAIL[:-3] + ld(b"\xba\x01", struct_oracle({k1: None, k3: 1}))
    assert export([built]) == ld(b"\x2a", built)


def fifty_megabyte_base64(raw_unit):
    count = (50 * MIB * 3 // 4) // len(raw_unit)
    return raw_unit * count, count


@big
def test_fifty_megabyte_base64_text():
    raw, count = fifty_megabyte_base64(b"ok\xff")  # ill-formed UTF-8 becomes U+FFFD
    encoded = base64.b64encode(raw).decode()
    del raw
    payload = '{"a":"%s"}' % encoded
    merged = '{"a":"%s"}' % ("ok\ufffd" * count)
    result = text_payload(payload, '{"a":[1]}')
    assert result[:3] == (payload, merged, sha(merged))
    assert result[3] == schema_text([("a", '{"encoding":1,"properties":{},"type":2}')])
    assert result[5] == ld(b"\x0a", b"\x0a\x01a" + ld(b"\x12", ld(b"\x1a", encoded.encode())))
    assert object_payload({"a": encoded}, {"a": [1]})[1] == sha(merged)


@big
def test_fifty_megabyte_base64_json():
    raw, count = fifty_megabyte_base64(b'"ab\\u00e9",')
    encoded = base64.b64encode(b"[" + raw + b"1]").decode()
    del raw
    merged = '{"a":[' + '"ab\u00e9",' * count + "1]}"
    item = '{"decoded_type":1,"encoding":1,"items":' + STRING + ',"properties":{},"type":7}'
    result = text_payload('{"a":"%s","b":2}' % encoded, '{"a":[1,1]}')
    merged_all = merged[:-1] + ',"b":2}'
    assert result[1:5] == (
        merged_all,
        sha(merged_all),
        schema_text([("a", item), ("b", NUMBER)]),
        sha(schema_text([("a", item), ("b", NUMBER)])),
    )
    assert object_payload({"a": encoded, "b": 2}, {"a": [1, 1]})[1] == sha(merged_all)


@big
@pytest.mark.parametrize("spoil", [
    lambda s: s[:-3] + "R==",                                # unused bits not zero
    lambda s: s[:len(s) // 2] + "\n" + s[len(s) // 2:],      # whitespace in the middle
    lambda s: s[:-2],                                        # padding missing
    lambda s: s[:7] + "-" + s[8:],                           # a letter of the URL alphabet
])  # fmt: skip
def test_fifty_megabyte_base64_that_fails_stays(spoil):
    raw, _ = fifty_megabyte_base64(b"xyz")
    encoded = spoil(base64.b64encode(raw + b"q").decode())
    del raw
    payload = q.normalize_json('{"a":"%s"}' % encoded.replace("\n", "\\n"))
    normalized, merged, value_hash = text_payload(payload, '{"a":[1,1]}')[:3]
    assert normalized == merged == payload and value_hash == sha(payload)


# ---- lengths near 2^64, overlong varints, broken groups -----------------------------------------

LENGTHS = [2**64 - 1, 2**64 - 2, 2**63, 2**63 - 1, 2**32, 2**32 + 1, 2**31]


@pytest.mark.parametrize("length", LENGTHS)
def test_lengths_near_two_to_the_64(length):
    n = varint(length)
    # Struct bytes given to the span builder: an entry, and a key inside a well-formed entry
    # (an end computed as position + length would wrap around to just before the position).
    for data in (
        b"\x0a" + n,
        b"\x0a" + n + b"abc",
        ld(b"\x0a", b"\x0a" + n + b"abc"),
        ld(b"\x0a", ld(b"\x0a", b"k") + b"\x12" + n + b"\x08\x00"),
    ):
        with pytest.raises(ValueError) as info:
            span(input_value_proto_struct_bytes=data)
        assert info.value.args == (STRUCT_DECODE + "Struct.fields: buffer underflow",)
    # Span bytes given to the export request builder.
    for data, path in [
        (b"\x4a" + n + b"\x0a\x00", "Span.input_value: "),
        (ld(b"\x4a", ld(b"\x0a", b"\x0a" + n + b"abc")), "Struct.fields: Span.input_value: "),
        (ld(b"\x92\x01", b"\x12" + n + b"m"), "SpanStatus.message: Span.status: "),
        (ld(b"\x5a", b"\x12" + n + b"\x0a\x01a"), "JsonSchema.properties: Span.input_schema: "),
        (b"\x0a\x01t\xfa\x07" + n + b"xx", ""),  # an unknown field skipped by its length
        (b"\xfb\x07\xfa\x07" + n + b"\xfc\x07", ""),  # ... inside a group
        (b"\xca\x01" + n, "Span.id: "),
    ]:
        with pytest.raises(ValueError) as info:
            export([b"\x0a\x01t", data])
        assert info.value.args == (DECODE + path + "buffer underflow",)


@pytest.mark.parametrize("data, reason", [
    (b"\xff" * 10 + b"\x01", "invalid varint"),                          # an eleven-byte key
    (b"\x80" * 10 + b"\x00", "invalid varint"),                          # ... even of value 0
    (b"\x0a" + b"\xff" * 10 + b"\x01", "Span.trace_id: invalid varint"),  # an eleven-byte length
    (b"\x40" + b"\x80" * 10 + b"\x00", "Span.package_type: invalid varint"),
    (b"\xf8\x07" + b"\x81" * 10 + b"\x00", "invalid varint"),            # an unknown varint field
    (b"\x92\x01\x0b\x08" + b"\x80" * 10, "SpanStatus.code: Span.status: invalid varint"),
    (b"\xa2\x01\x0c\x10" + b"\xff" * 10 + b"\x01", "Timestamp.nanos: Span.timestamp: invalid varint"),
    (ld(b"\x5a", ld(b"\x1a", b"\x20" + b"\xff" * 10 + b"\x01")),
     "JsonSchema.encoding: JsonSchema.items: Span.input_schema: invalid varint"),
    # groups: never closed, closed by another field, closed outside the message they open in
    (b"\x0a\x01t\xfb\x07", "invalid varint"),
    (b"\xfb\x07\xfc\x08", "unexpected end group tag"),
    (b"\xfb\x07\xfb\x08\xfc\x07\xfc\x08", "unexpected end group tag"),
    (b"\x4a\x01\x1b", "Span.input_value: invalid varint"),
    (b"\x4a\x02\x1b\x24", "Span.input_value: unexpected end group tag"),
    (b"\x4a\x01\x1c", "Span.input_value: unexpected end group tag"),
    (b"\x4a\x01\x1b\x1c", "Span.input_value: delimited length exceeded"),
    (b"\x92\x01\x02\xfb\x07\xfc\x07", "Span.status: delimited length exceeded"),
])  # fmt: skip
def test_overlong_varints_and_broken_groups(data, reason):
    with pytest.raises(ValueError) as info:
        export([data])
    assert info.value.args == (DECODE + reason,)


@pytest.mark.parametrize("data, reason", [
    (b"\x0a" + b"\x80" * 10 + b"\x00", "Struct.fields: invalid varint"),
    (b"\x80" * 10 + b"\x00", "invalid varint"),
    (ld(b"\x0a", b"\x0a\x01k" + ld(b"\x12", b"\x08" + b"\xff" * 10 + b"\x01")),
     "Value.kind: Struct.fields: invalid varint"),
    (b"\x1b\x0a\x00", "invalid varint"),
    (b"\x1b\x2c", "unexpected end group tag"),
])  # fmt: skip
def test_overlong_varints_and_broken_groups_in_struct_bytes(data, reason):
    with pytest.raises(ValueError) as info:
        span(input_value_proto_struct_bytes=data)
    assert info.value.args == (STRUCT_DECODE + reason,)


def test_groups_closed_in_order_are_skipped():
    groups = b"\xfb\x07\x1b\x08\x01\x1c\xfc\x07"  # field 127 holding field 3 holding a varint
    assert export([b"\x0a\x01t" + groups * 1000 + b"\x12\x01s"]) == ld(b"\x2a", b"\x0a\x01t\x12\x01s")
    struct = struct_oracle({"a": 1})
    assert (
        span(input_value_proto_struct_bytes=b"\x1b\x1c" * 1000 + struct) == HEAD + ld(b"\x4a", struct) + TAIL
    )


# ---- Python objects that contain themselves, change, or raise ---------------------------------


def self_containing_schema():
    schema = {"type": 6, "properties": {}}
    schema["properties"]["me"] = schema
    return schema


@pytest.mark.parametrize("call", [
    lambda: object_payload({"a": via_tuple()}, None),
    lambda: object_payload([1, (2, via_tuple())], None),
    lambda: object_payload({}, {"a": via_tuple()}),
    lambda: object_payload({}, self_containing_dict()),
    lambda: span(input_schema=self_containing_schema()),
    lambda: span(output_schema={"items": self_containing_list()}),
    lambda: span(metadata={"m": via_tuple()}),
    lambda: span(input_value=self_containing_list()),  # a list gives the empty Struct, but is converted first
    lambda: span(output_value=self_containing_dict(), output_value_proto_struct_bytes=b""),
])  # fmt: skip
def test_objects_that_contain_themselves(call):
    with pytest.raises(RecursionError) as info:
        call()
    assert info.value.args == (TOO_DEEP,)


class Box:
    """Holds the container that a hook changes; filled after the container is built."""

    target = None


def changing(method, change, result):
    box = Box()

    def run(_):
        change(box.target)
        return result

    return box, hook(**{method: run})


H = object()  # stands for the hook's own result in the expected values


def substitute(value, result):
    if value is H:
        return result
    return [substitute(v, result) for v in value] if isinstance(value, list) else value


def same(value):
    return value, value


def inner(h, *rest, wrap):
    """A list holding h and rest, wrapped; returns the value and the list to change."""
    target = [h, *rest]
    return wrap(target), target


@pytest.mark.parametrize("method, result", [("index", 7), ("float", 2.5)])
@pytest.mark.parametrize("make, change, expected", [
    (lambda h: same([h, 1, 2]), list.clear, [H]),                    # the list shrinks: conversion stops
    (lambda h: same([h, "x"]), lambda c: c.append(9), [H, "x"]),     # it grows: the length read first holds
    (lambda h: same([h, 1]), lambda c: c.__setitem__(1, "new"), [H, "new"]),  # not yet converted
    (lambda h: same([[h, 1]]), list.clear, [[H, 1]]),                # the inner list loses its last owner
    (lambda h: inner(h, 2, 3, wrap=lambda t: ("t", t)), list.clear, ["t", [H]]),
])  # fmt: skip
def test_lists_changed_by_a_hook(method, result, make, change, expected):
    want = substitute(expected, result)
    for convert, plain in (
        (lambda v: object_payload(v, None)[0], lambda w: w),
        (lambda v: span(input_value={"v": v}), lambda w: span(input_value={"v": w})),
    ):
        box, h = changing(method, change, result)
        value, box.target = make(h)
        assert convert(value) == plain(want)


@pytest.mark.parametrize("method", ["index", "float"])
@pytest.mark.parametrize("change", [dict.clear, lambda d: d.update(z=1), lambda d: d.pop("b")])
def test_dicts_changed_by_a_hook_in_span_values(method, change):
    for field in ("metadata", "input_value", "input_schema"):
        box, h = changing(method, change, 1 if method == "index" else 1.5)
        box.target = {"a": h, "b": 2}
        with pytest.raises(BaseException) as info:
            span(**{field: {"outer": box.target} if field != "input_schema" else {"properties": box.target}})
        assert type(info.value).__name__ == "PanicException" and not isinstance(info.value, Exception)
        assert info.value.args == ("dictionary changed size during iteration",)


def test_argument_hooks_change_objects_converted_later():
    # Integer arguments are converted before the body reads schemas, metadata and values, so
    # what their hooks change is seen changed.
    meta, schema, value = {"a": 1}, {"type": 6, "properties": {"a": {"type": 1}}}, {"x": [1, 2]}

    def change(_):
        meta.clear()
        schema["type"] = 7
        value["x"].append("y")
        return 2

    assert span(kind=hook(index=change), metadata=meta, input_schema=schema, input_value=value) == span(
        kind=2,
        metadata={},
        input_schema={"type": 7, "properties": {"a": {"type": 1}}},
        input_value={"x": [1, 2, "y"]},
    )


def test_payload_hook_changes_the_rules_and_rule_hook_changes_the_payload():
    # The payload is converted first: a payload hook that empties the rules leaves no rules.
    rules = {"a": [1]}
    result = object_payload({"a": "aGk=", "h": hook(index=lambda s: (rules.clear(), 3)[1])}, rules)
    assert rules == {} and result[1] == sha('{"a":"aGk=","h":3}')
    # A rule hook that empties the payload comes too late: the converted payload is decoded.
    payload = {"a": "aGk="}
    result = object_payload(payload, {"a": {"encoding": hook(index=lambda s: (payload.clear(), 1)[1])}})
    assert payload == {} and result[0] == {"a": "aGk="} and result[1] == sha('{"a":"hi"}')


class Stop(BaseException):
    pass


def raising(instance):
    def run(*_):
        raise instance

    return run


@pytest.mark.parametrize("method", ["index", "float"])
@pytest.mark.parametrize("make", [lambda: Stop("stop"), lambda: SystemExit(3), lambda: GeneratorExit(),
                                  lambda: KeyboardInterrupt()])  # fmt: skip
@pytest.mark.parametrize("call", [
    lambda h: object_payload({"a": [h]}, None),
    lambda h: object_payload({"a": 1}, {"a": [h]}),
    lambda h: span(metadata={"m": h}),
    lambda h: span(input_schema={"type": h}),
    lambda h: span(input_value={"v": h}, input_value_proto_struct_bytes=b""),
])  # fmt: skip
def test_base_exceptions_from_hooks_propagate_unchanged(method, make, call):
    exc = make()
    with pytest.raises(BaseException) as info:
        call(hook(**{method: raising(exc)}))
    assert info.value is exc and info.value.__cause__ is None


@pytest.mark.parametrize("make", [lambda: Stop("stop"), lambda: SystemExit(3), lambda: KeyboardInterrupt()])
@pytest.mark.parametrize("name", ["kind", "timestamp_seconds", "duration_nanos"])
def test_base_exceptions_from_argument_hooks_propagate_unchanged(make, name):
    exc = make()
    with pytest.raises(BaseException) as info:
        span(**{name: hook(index=raising(exc))})
    assert info.value is exc
    # Arguments read __index__ only: a __float__ hook is never called.
    floating = hook(float=raising(exc))
    with pytest.raises(TypeError) as info:
        span(**{name: floating})
    assert info.value.args == (f"argument '{name}': " + says("index", floating),)


@pytest.mark.parametrize("call", [
    lambda h: object_payload([h], None),
    lambda h: span(metadata={"m": h}),
    lambda h: span(input_schema={"type": 6, "properties": {"a": h}}),
    lambda h: span(output_value={"v": [h]}),
])  # fmt: skip
def test_exceptions_from_hooks_only_rule_the_conversion_out(call):
    for h in (
        hook(index=raising(ValueError("x"))),
        hook(float=raising(ZeroDivisionError())),
        hook(index=raising(TypeError("t")), float=raising(ArithmeticError())),
    ):
        with pytest.raises(TypeError) as info:
            call(h)
        assert type(info.value) is TypeError and info.value.args == (UNSUPPORTED,)
    assert object_payload([hook(index=raising(ValueError("x")), float=lambda s: 0.5)], None)[0] == [0.5]


# Memory runs out inside the call: the allocation failure unwinds through the module's C++
# code to the call frame (the only test that throws a C++ exception through the unwinder the
# module was linked with), which raises PanicException and names the call on standard error.
OUT_OF_MEMORY = """
import resource, sys, quarn_core
huge = [[0]] * 3_000_000
text = str(huge)
calls = {"normalize_and_hash": lambda: quarn_core.normalize_and_hash(text),
         "process_export_payload_pyobject": lambda: quarn_core.process_export_payload_pyobject(huge, None)}
call = calls[sys.argv[1]]
with open("/proc/self/statm") as f:
    used = int(f.read().split()[0]) * resource.getpagesize()
limits = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (used + (16 << 20), limits[1]))
try:
    bytearray(64 << 20)
    print("no limit")  # qemu-user ignores the limit
    raise SystemExit
except MemoryError:
    pass
try:
    call()
except BaseException as e:
    print(type(e).__name__, *e.args)
resource.setrlimit(resource.RLIMIT_AS, limits)
print(quarn_core.normalize_and_hash("[1]")[0])
"""


@pytest.mark.skipif(
    SANITIZED or not sys.platform.startswith("linux"), reason="an address-space limit on Linux"
)
@pytest.mark.parametrize("name", ["normalize_and_hash", "process_export_payload_pyobject"])
def test_running_out_of_memory_panics_and_the_module_goes_on(name):
    r = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY, name], capture_output=True, text=True)
    if r.stdout == "no limit\n":
        pytest.skip("the address-space limit is not enforced here")
    assert (r.returncode, r.stdout.splitlines()) == (0, ["PanicException std::bad_alloc", "[1]"]), r.stderr
    assert r.stderr == f"quarn_core: internal failure in {name}(): std::bad_alloc\n"
