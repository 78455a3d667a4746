"""google.protobuf.Struct bytes made from JSON text."""

import json

import pytest
from hypothesis import given, settings, strategies as st
from support.strategies import json_values, scalars

import quarn_core as q

struct_pb2 = pytest.importorskip("google.protobuf.struct_pb2")
json_format = pytest.importorskip("google.protobuf.json_format")

NUM_1 = "11 00 00 00 00 00 00 f0 3f"


@pytest.mark.parametrize(
    "text, expected, count",
    [
        ('{"b":1,"a":null}', f"0a 07 0a 01 61 12 02 08 00 0a 0e 0a 01 62 12 09 {NUM_1}", 2),
        ('{"":true}', "0a 04 12 02 20 01", 1),
        ('{"x":[]}', "0a 07 0a 01 78 12 02 32 00", 1),
        ('{"k":{}}', "0a 07 0a 01 6b 12 02 2a 00", 1),
        ('{"s":""}', "0a 07 0a 01 73 12 02 1a 00", 1),
        ('{"f":false}', "0a 07 0a 01 66 12 02 20 00", 1),
        ('{"z":0}', "0a 0e 0a 01 7a 12 09 11 00 00 00 00 00 00 00 00", 1),
        ('{"z":-0.0}', "0a 0e 0a 01 7a 12 09 11 00 00 00 00 00 00 00 80", 1),
        ('{"n":18446744073709551615}', "0a 0e 0a 01 6e 12 09 11 00 00 00 00 00 00 f0 43", 1),
        ('{"n":9007199254740993}', "0a 0e 0a 01 6e 12 09 11 00 00 00 00 00 00 40 43", 1),
        ('{"a":1,"a":2}', "0a 0e 0a 01 61 12 09 11 00 00 00 00 00 00 00 40", 1),
        ('{"l":[null,"x"]}', "0a 10 0a 01 6c 12 0b 32 09 0a 02 08 00 0a 03 1a 01 78", 1),
        ("[1,2]", "", 0),
        ('"text"', "", 0),
        ("42", "", 0),
        ("true", "", 0),
        ("null", "", 0),
        ("{}", "", 0),
    ],
)
def test_struct_bytes_table(text, expected, count):
    assert q.object_to_protobuf_struct_bytes(text) == bytes.fromhex(expected)
    assert q.object_to_protobuf_struct_field_count(payload_json=text) == count


def test_keys_in_byte_order():
    raw = q.object_to_protobuf_struct_bytes('{"b":0,"B":0,"a":0,"\u00e9":0,"ab":0}')
    keys = [b"B", b"a", b"ab", b"b", "\u00e9".encode()]
    positions = [raw.index(bytes([0x0A, len(k)]) + k + b"\x12") for k in keys]
    assert positions == sorted(positions)


@pytest.mark.parametrize("text", ["", '{"a":', "[1,]", "{1:2}"])
def test_invalid_text(text):
    with pytest.raises(ValueError) as info:
        q.normalize_json(text)
    for fn in (q.object_to_protobuf_struct_bytes, q.object_to_protobuf_struct_field_count):
        with pytest.raises(ValueError) as got:
            fn(text)
        assert got.value.args == info.value.args


values = json_values(scalars(st.text()), st.text(min_size=1, max_size=6), 5, 30)


@settings(max_examples=300, deadline=None)
@given(st.dictionaries(st.text(min_size=1, max_size=8), values, max_size=8))
def test_matches_protobuf_package(obj):
    text = json.dumps(obj)
    raw = q.object_to_protobuf_struct_bytes(text)
    # The protobuf package reads the bytes back to the content of the canonical document ...
    decoded = struct_pb2.Struct()
    decoded.ParseFromString(raw)
    canonical = json.loads(q.normalize_json(text))
    expected = struct_pb2.Struct()
    json_format.ParseDict(canonical, expected)
    assert decoded == expected
    # ... and its deterministic serialisation of that Struct is byte for byte ours.
    # (Keys are non-empty here: an empty key is left out of its map entry, which
    # the package would write as an empty field 1.)
    assert expected.SerializeToString(deterministic=True) == raw
    assert q.object_to_protobuf_struct_field_count(text) == len(canonical)


def test_empty_key_reads_back():
    decoded = struct_pb2.Struct()
    decoded.ParseFromString(q.object_to_protobuf_struct_bytes('{"":{"":[]}}'))
    assert json_format.MessageToDict(decoded) == {"": {"": []}}
