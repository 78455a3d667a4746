"""build_span_proto_bytes_pyobject: exact bytes, schema conversion, the value rule,
check order, and spans checked field by field with the protobuf package."""

import math
import sys

import pytest
from hypothesis import given, settings, strategies as st
from support.spans import STRING_FIELDS, span_args
from support.strategies import int32s, int64s, json_values, scalars

import quarn_core as q

BASE = "0a 01 74 12 01 73 22 01 6e 4a 00 52 00 5a 00 62 00 92 01 00 a2 01 00 aa 01 00 ba 01 00"


def build(**over):
    return q.build_span_proto_bytes_pyobject(**span_args(**over))


def h(text):
    return bytes.fromhex(text)


NUM1 = "11 00 00 00 00 00 00 f0 3f"


@pytest.mark.parametrize("over, expected", [
    ({}, BASE),
    ({"environment": ""}, BASE + " c2 01 00"),
    ({"environment": "prod"}, BASE + " c2 01 04 70 72 6f 64"),
    ({"package_type": 3, "kind": 2, "status_code": 1, "is_root_span": True, "environment": ""},
     "0a 01 74 12 01 73 22 01 6e 40 03 4a 00 52 00 5a 00 62 00 88 01 02 92 01 02 08 01 a2 01 00 aa 01 00 "
     "b0 01 01 ba 01 00 c2 01 00"),
    ({"package_type": 11, "kind": 5, "status_code": 2},
     "0a 01 74 12 01 73 22 01 6e 40 0b 4a 00 52 00 5a 00 62 00 88 01 05 92 01 02 08 02 a2 01 00 aa 01 00 ba 01 00"),
    ({"input_schema": {"type": 6, "properties": {"a": {"type": 1, "properties": {}}}}},
     "0a 01 74 12 01 73 22 01 6e 4a 00 52 00 5a 0b 08 06 12 07 0a 01 61 12 02 08 01 62 00 92 01 00 a2 01 00 "
     "aa 01 00 ba 01 00"),
    ({"timestamp_seconds": 1, "timestamp_nanos": -1},
     "0a 01 74 12 01 73 22 01 6e 4a 00 52 00 5a 00 62 00 92 01 00 a2 01 0d 08 01 10 ff ff ff ff ff ff ff ff ff 01 "
     "aa 01 00 ba 01 00"),
    ({"duration_seconds": -1, "duration_nanos": 5},
     "0a 01 74 12 01 73 22 01 6e 4a 00 52 00 5a 00 62 00 92 01 00 a2 01 00 aa 01 0d 08 ff ff ff ff ff ff ff ff ff "
     "01 10 05 ba 01 00"),
    ({"input_value": {"a": 1}, "input_value_proto_struct_bytes": b""}, BASE),   # the bytes win, even empty
    ({"input_value": "text"}, BASE),
    ({"output_value": [1, 2]}, BASE),
    ({"metadata": {}}, BASE),
    ({"metadata": [1]}, BASE),
    ({"input_value_proto_struct_bytes": h("0a 03 0a 01 62 0a 03 0a 01 61")},   # re-encoded in key order
     "0a 01 74 12 01 73 22 01 6e 4a 0a 0a 03 0a 01 61 0a 03 0a 01 62 52 00 5a 00 62 00 92 01 00 a2 01 00 aa 01 00 "
     "ba 01 00"),
    ({"output_value_proto_struct_bytes": h("0a 07 0a 01 6b 12 02 20 01 f8 07 01")},  # unknown field dropped
     "0a 01 74 12 01 73 22 01 6e 4a 00 52 09 0a 07 0a 01 6b 12 02 20 01 5a 00 62 00 92 01 00 a2 01 00 aa 01 00 "
     "ba 01 00"),
    ({"metadata": {"b": 1, "a": None}},
     f"0a 01 74 12 01 73 22 01 6e 4a 00 52 00 5a 00 62 00 92 01 00 a2 01 00 aa 01 00 "
     f"ba 01 19 0a 07 0a 01 61 12 02 08 00 0a 0e 0a 01 62 12 09 {NUM1}"),
    ({"input_value": {"x": []}, "output_value": {"k": {}}, "input_schema_hash": "ih", "output_value_hash": "oh"},
     "0a 01 74 12 01 73 22 01 6e 4a 09 0a 07 0a 01 78 12 02 32 00 52 09 0a 07 0a 01 6b 12 02 2a 00 5a 00 62 00 "
     "6a 02 69 68 82 01 02 6f 68 92 01 00 a2 01 00 aa 01 00 ba 01 00"),
])  # fmt: skip
def test_span_bytes_table(over, expected):
    assert build(**over).hex(" ") == h(expected).hex(" ")


def schema_bytes(schema):
    """Field 11 of the span built with `schema` as input_schema, without key and length."""
    out = build(input_schema=schema)
    start = out.index(b"\x52\x00") + 2
    assert out[start] == 0x5A
    length = out[start + 1]
    assert length < 0x80
    return out[start + 2 : start + 2 + length]


@pytest.mark.parametrize("schema, expected", [
    ({"type": 2, "encoding": 0, "match_importance": 1}, "08 02 20 00 31 00 00 00 00 00 00 f0 3f"),
    ({"items": None}, "1a 00"),
    ({"items": 5}, "1a 00"),
    ({"items": {"type": 1}}, "1a 02 08 01"),
    ({"type": 2.0}, ""),
    ({"type": "2"}, ""),
    ({"type": True}, ""),
    ({"type": 4294967298}, "08 02"),
    ({"type": -1}, "08 ff ff ff ff ff ff ff ff ff 01"),
    ({"type": 2**63 - 1}, "08 ff ff ff ff ff ff ff ff ff 01"),
    ({"type": 2**63}, ""),
    ({"type": -(2**63)}, ""),
    ({"encoding": -(2**63)}, "20 00"),
    ({"encoding": 2**63}, ""),
    ({"encoding": 1.0, "decoded_type": 1}, "28 01"),
    ({"decoded_type": -2}, "28 fe ff ff ff ff ff ff ff ff 01"),
    ({"match_importance": 2**64}, "31 00 00 00 00 00 00 f0 43"),
    ({"match_importance": -0.0}, "31 00 00 00 00 00 00 00 80"),
    ({"match_importance": "1"}, ""),
    ({"match_importance": None}, ""),
    ({"properties": {"a": {}}}, "12 03 0a 01 61"),
    ({"properties": {"": {"type": 1}}}, "12 04 12 02 08 01"),
    ({"properties": {"": {}}}, "12 00"),
    ({"properties": {"b": {"type": 1}, "a": {"type": 2}}}, "12 07 0a 01 61 12 02 08 02 12 07 0a 01 62 12 02 08 01"),
    ({"properties": [1]}, ""),
    ({"properties": {"a": 7}}, "12 03 0a 01 61"),
    ({"other": 1, "TYPE": 3}, ""),
    ([1], ""),
    ("x", ""),
    (None, ""),
    ({}, ""),
])  # fmt: skip
def test_schema_table(schema, expected):
    assert schema_bytes(schema).hex(" ") == h(expected).hex(" ")


def test_output_schema_uses_field_12():
    assert build(output_schema={"type": 3}) == h(BASE.replace("62 00", "62 02 08 03"))


@pytest.mark.parametrize("over, error, message", [
    ({"package_type": 12}, ValueError, "invalid package_type enum: 12"),
    ({"package_type": -1}, ValueError, "invalid package_type enum: -1"),
    ({"package_type": -(2**31)}, ValueError, "invalid package_type enum: -2147483648"),
    ({"kind": 6}, ValueError, "invalid kind enum: 6"),
    ({"kind": 99}, ValueError, "invalid kind enum: 99"),
    ({"status_code": 3}, ValueError, "invalid status_code enum: 3"),
    ({"package_type": 12, "kind": 6, "status_code": 3}, ValueError, "invalid package_type enum: 12"),
    ({"kind": 6, "status_code": 3}, ValueError, "invalid kind enum: 6"),
    ({"input_value_proto_struct_bytes": b"\x0a"}, ValueError,
     "serialization error: failed to decode Protobuf message: Struct.fields: invalid varint"),
    ({"output_value_proto_struct_bytes": b"\x0a\x02\x0a\x01"}, ValueError,
     "serialization error: failed to decode Protobuf message: Struct.fields: buffer underflow"),
    ({"input_value_proto_struct_bytes": b"\x0a\x03\x0a\x01\xff"}, ValueError,
     "serialization error: failed to decode Protobuf message: Struct.fields: invalid string value: "
     "data is not UTF-8 encoded"),
    ({"input_value_proto_struct_bytes": b"\x0a\x01", "output_value_proto_struct_bytes": b"\x0a"}, ValueError,
     "serialization error: failed to decode Protobuf message: Struct.fields: buffer underflow"),
    ({"input_value_proto_struct_bytes": b"\x0b"}, ValueError,
     "serialization error: failed to decode Protobuf message: Struct.fields: invalid wire type: StartGroup "
     "(expected LengthDelimited)"),
    ({"input_value_proto_struct_bytes": b"\x0a", "kind": 6}, ValueError, "invalid kind enum: 6"),
    ({"input_value": {1, 2}, "package_type": 99}, TypeError, "unsupported value type for Rust export payload processing"),
    ({"input_value": {"a": {1}}, "input_value_proto_struct_bytes": b""}, TypeError,
     "unsupported value type for Rust export payload processing"),
    ({"input_schema": {"a": object()}}, TypeError, "unsupported value type for Rust export payload processing"),
    ({"input_value_proto_struct_bytes": bytearray(b""), "package_type": 99}, TypeError, "expected bytes or None"),
    ({"output_value_proto_struct_bytes": memoryview(b"")}, TypeError, "expected bytes or None"),
    ({"output_value_proto_struct_bytes": "x", "input_value_proto_struct_bytes": b"\x0a"}, TypeError,
     "expected bytes or None"),
])  # fmt: skip
def test_failure_table(over, error, message):
    with pytest.raises(error) as info:
        build(**over)
    assert type(info.value) is error and info.value.args == (message,)


def test_conversion_order():
    # Schemas, then metadata, input and output value, each converted (also when bytes are given).
    order = []

    class Tracked:
        def __init__(self, tag):
            self.tag = tag

        def __index__(self):
            order.append(self.tag)
            return 1

    build(
        input_schema=[Tracked("in_schema")],
        output_schema=[Tracked("out_schema")],
        metadata=[Tracked("meta")],
        input_value=[Tracked("in")],
        output_value=[Tracked("out")],
        input_value_proto_struct_bytes=b"",
    )
    assert order == ["in_schema", "out_schema", "meta", "in", "out"]


def test_schema_member_order_is_stable():
    schema = {"type": 6, "properties": {k: {"type": i + 1} for i, k in enumerate("zyxwvutsrq")}}
    outs = {build(input_schema=dict(schema)) for _ in range(20)}
    assert len(outs) == 1


def test_schema_nesting_passes_builder_and_limit_of_export():
    def chain(n):
        s = None
        for _ in range(n):
            s = {"items": s} if s is not None else {}
        return s

    ok = build(input_schema=chain(100))  # 100 schemas: items 99 levels deep
    deep = build(input_schema=chain(101))  # 101 schemas: written here, refused on export
    out = q.build_export_spans_request_bytes_pyobject("", "", "", "", [ok])
    assert out.endswith(ok)
    with pytest.raises(ValueError) as info:
        q.build_export_spans_request_bytes_pyobject("", "", "", "", [deep])
    assert info.value.args[0].endswith("recursion limit reached")


def test_reference_counts_unchanged():
    schema = {"type": 6, "properties": {"a": {"type": 1}}}
    meta, value, raw, env = {"m": [1, "x"]}, {"v": 2.5}, b"\x0a\x03\x0a\x01a", "prod"
    objs = [schema, meta, value, raw, env]
    before = [sys.getrefcount(o) for o in objs]
    for _ in range(50):
        build(
            input_schema=schema,
            output_schema=schema,
            metadata=meta,
            input_value=value,
            output_value=value,
            input_value_proto_struct_bytes=raw,
            environment=env,
        )
        with pytest.raises(ValueError):
            build(
                input_schema=schema,
                metadata=meta,
                input_value=value,
                input_value_proto_struct_bytes=raw,
                kind=9,
            )
    assert [sys.getrefcount(o) for o in objs] == before


# ---- spans built by the module read back by the protobuf package ----------------------

sp = pytest.importorskip("support.messages")

texts = st.text(max_size=6)
values = json_values(scalars(st.text(max_size=4), ints=(-(2**63), 2**63 - 1)), st.text(max_size=3), 3, 10)
schemas = st.recursive(
    st.fixed_dictionaries(
        {},
        optional={
            "type": int32s,
            "encoding": int32s,
            "decoded_type": int32s,
            "match_importance": st.floats(allow_nan=False),
        },
    ),
    lambda c: st.fixed_dictionaries(
        {"type": int32s},
        optional={"properties": st.dictionaries(st.text(max_size=3), c, max_size=3), "items": c},
    ),
    max_leaves=8,
)


def expect_schema(d):
    msg = sp.JsonSchema()
    if not isinstance(d, dict):
        return msg
    msg.type = d.get("type", 0)
    for k in ("encoding", "decoded_type", "match_importance"):
        if k in d and not (isinstance(d[k], float) and not math.isfinite(d[k])):  # NaN, inf become null
            setattr(msg, k, d[k])
    for name, sub in d.get("properties", {}).items():
        msg.properties[name].CopyFrom(expect_schema(sub))
    if "items" in d:
        msg.items.CopyFrom(expect_schema(d["items"]))
        msg.items.SetInParent()
    return msg


def struct_of(value):
    msg = sp.Span().input_value
    if isinstance(value, dict):
        msg.update(value)
    return msg


@settings(max_examples=150, deadline=None)
@given(
    st.fixed_dictionaries(dict.fromkeys(STRING_FIELDS + ("status_message",), texts)),
    st.integers(0, 11),
    st.integers(0, 5),
    st.integers(0, 2),
    st.none() | texts,
    st.booleans(),
    st.booleans(),
    int64s,
    int32s,
    int64s,
    int32s,
    schemas,
    schemas,
    st.none() | st.dictionaries(st.text(max_size=3), values),
    values,
    values,
)
def test_built_span_parses_to_its_arguments(
    text_args,
    package_type,
    kind,
    status_code,
    environment,
    pre,
    root,
    ts,
    tn,
    ds,
    dn,
    in_schema,
    out_schema,
    metadata,
    in_value,
    out_value,
):
    out = q.build_span_proto_bytes_pyobject(
        **text_args,
        package_type=package_type,
        environment=environment,
        kind=kind,
        input_schema=in_schema,
        output_schema=out_schema,
        status_code=status_code,
        is_pre_app_start=pre,
        is_root_span=root,
        timestamp_seconds=ts,
        timestamp_nanos=tn,
        duration_seconds=ds,
        duration_nanos=dn,
        metadata=metadata,
        input_value=in_value,
        output_value=out_value,
        input_value_proto_struct_bytes=None,
        output_value_proto_struct_bytes=None,
    )
    got = sp.parse(sp.Span, out)
    for f in STRING_FIELDS:
        assert getattr(got, f) == text_args[f]
    assert (got.package_type, got.kind, got.status.code, got.status.message) == (
        package_type,
        kind,
        status_code,
        text_args["status_message"],
    )
    assert (got.is_pre_app_start, got.is_root_span) == (pre, root)
    assert (got.timestamp.seconds, got.timestamp.nanos, got.duration.seconds, got.duration.nanos) == (
        ts,
        tn,
        ds,
        dn,
    )
    assert got.HasField("environment") == (environment is not None) and got.environment == (environment or "")
    assert not got.HasField("id")
    for f in (
        "input_value",
        "output_value",
        "metadata",
        "input_schema",
        "output_schema",
        "status",
        "timestamp",
        "duration",
    ):
        assert got.HasField(f)
    assert got.input_schema == expect_schema(in_schema) and got.output_schema == expect_schema(out_schema)
    assert got.metadata == struct_of(metadata)
    assert got.input_value == struct_of(in_value) and got.output_value == struct_of(out_value)
    # Decoding and encoding again through the export request gives the same span bytes.
    req = q.build_export_spans_request_bytes_pyobject("", "", "", "", [out])
    assert sp.parse(sp.ExportSpansRequest, req).spans[0].SerializeToString(
        deterministic=True
    ) == got.SerializeToString(deterministic=True)
    assert req.endswith(out)
