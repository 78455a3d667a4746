"""Decoding of Span bytes: what comes back re-encoded, and the exact error texts.

Spans reach the decoder through build_export_spans_request_bytes_pyobject; with
the four texts empty and one span, the request is just that span as field 5.
"""

import pytest
from support.wire import items_chain, ld, nested_groups, nested_structs, varint

import quarn_core as q

PREFIX = "serialization error: failed to decode span proto bytes: failed to decode Protobuf message: "


def roundtrip(data):
    """The span as the module writes it again after decoding `data`."""
    out = q.build_export_spans_request_bytes_pyobject("", "", "", "", [data])
    body = varint(len(out) - 1 - len(varint(len(out) - 2)))
    assert out[:1] == b"\x2a" and out[1 : 1 + len(body)] == body
    return out[1 + len(body) :]


def decode_error(data):
    with pytest.raises(ValueError) as info:
        q.build_export_spans_request_bytes_pyobject("", "", "", "", [data])
    (text,) = info.value.args
    assert text.startswith(PREFIX)
    return text[len(PREFIX) :]


def h(text):
    return bytes.fromhex(text)


FF9 = "ff " * 9


@pytest.mark.parametrize("given, expected", [
    ("", ""),
    ("0a 01 74 f8 07 05", "0a 01 74"),                       # unknown varint field 127 dropped
    ("0a 01 61 0a 01 62", "0a 01 62"),                       # the last string wins
    ("40 63", "40 63"),                                      # out-of-range codes pass through
    ("88 01 " + FF9 + "01", "88 01 " + FF9 + "01"),          # kind -1 from a ten-byte varint
    ("40 80 80 80 80 10", ""),                               # 2^32: low 32 bits are 0
    ("98 01 05 b0 01 " + "80 " * 9 + "01", "98 01 01 b0 01 01"),  # any non-zero varint is true
    ("c2 01 00 ca 01 00", "c2 01 00 ca 01 00"),              # optional strings present though empty
    ("ca 01 01 78 c2 01 00", "c2 01 00 ca 01 01 78"),        # fields in any order
    ("92 01 02 08 01 92 01 03 12 01 6d", "92 01 05 08 01 12 01 6d"),  # status occurrences merge
    ("92 01 04 08 02 08 01", "92 01 02 08 01"),
    ("a2 01 0d 08 01 10 " + FF9 + "01", "a2 01 0d 08 01 10 " + FF9 + "01"),  # nanos -1 kept
    ("a2 01 06 10 80 80 80 80 10", "a2 01 00"),              # nanos from a 64-bit varint: low bits
    ("aa 01 02 08 7f aa 01 02 10 05", "aa 01 04 08 7f 10 05"),
    ("0a 01 74 f3 01 08 01 f3 01 f4 01 f4 01", "0a 01 74"),  # nested unknown groups skipped
    ("0a 01 74 fd 07 00 00 00 00 f9 07 " + "00 " * 8, "0a 01 74"),  # unknown fixed32 / fixed64
    # JsonSchema: merging, members in name order, default member schemas and empty names left out
    ("5a 00", "5a 00"),
    ("5a 07 12 05 0a 01 61 12 00", "5a 05 12 03 0a 01 61"),
    ("5a 0e 12 05 0a 01 62 12 00 12 05 12 00 0a 01 61", "5a 0a 12 03 0a 01 61 12 03 0a 01 62"),
    ("5a 08 12 06 12 02 08 01 0a 00", "5a 06 12 04 12 02 08 01"),
    ("5a 12 12 07 0a 01 61 12 02 08 01 12 07 0a 01 61 12 02 08 02",   # a later entry replaces
     "5a 09 12 07 0a 01 61 12 02 08 02"),
    ("5a 0d 12 0b 0a 01 61 12 02 08 01 12 02 20 00", "5a 0b 12 09 0a 01 61 12 04 08 01 20 00"),
    ("5a 07 f8 07 05 f3 01 f4 01", "5a 00"),
    ("5a 07 12 05 0a 01 61 12 00 5a 07 12 05 0a 01 61 12 00", "5a 05 12 03 0a 01 61"),
    ("5a 04 1a 02 08 01 5a 04 1a 02 20 00", "5a 06 1a 04 08 01 20 00"),   # items merge
    ("5a 02 08 03 5a 02 08 00", "5a 00"),                    # a later type 0 overwrites
    ("5a 09 31 00 00 00 00 00 00 f0 3f", "5a 09 31 00 00 00 00 00 00 f0 3f"),
    # Struct: entries sorted, a later entry replaces, a value with no kind is written without it
    ("4a 0a 0a 03 0a 01 62 0a 03 0a 01 61", "4a 0a 0a 03 0a 01 61 0a 03 0a 01 62"),
    ("4a 07 0a 05 0a 01 62 12 00 4a 07 0a 05 0a 01 61 12 00", "4a 0a 0a 03 0a 01 61 0a 03 0a 01 62"),
    ("4a 0b 0a 09 0a 01 6b 12 04 20 01 20 00", "4a 09 0a 07 0a 01 6b 12 02 20 00"),
    ("ba 01 09 0a 07 0a 01 6b 12 02 08 00", "ba 01 09 0a 07 0a 01 6b 12 02 08 00"),
])  # fmt: skip
def test_roundtrip_table(given, expected):
    assert roundtrip(h(given)).hex(" ") == h(expected).hex(" ")


@pytest.mark.parametrize("given, reason", [
    ("0a 01 ff", "Span.trace_id: invalid string value: data is not UTF-8 encoded"),
    ("92 01 01 08", "SpanStatus.code: Span.status: invalid varint"),
    ("92 01 02 08", "Span.status: buffer underflow"),
    ("42 00", "Span.package_type: invalid wire type: LengthDelimited (expected Varint)"),
    ("40 " + FF9 + "ff 01", "Span.package_type: invalid varint"),       # eleven bytes
    ("40 " + FF9 + "02", "Span.package_type: invalid varint"),          # tenth byte above 01
    ("40", "Span.package_type: invalid varint"),
    ("80", "invalid varint"),
    ("80 80 80 80 10", "invalid key value: 4294967296"),
    ("ff ff ff ff 7f", "invalid key value: 34359738367"),
    ("0e", "invalid wire type value: 6"),
    ("0f", "invalid wire type value: 7"),
    ("00", "invalid tag value: 0"),
    ("02 00", "invalid tag value: 0"),
    ("0a " + FF9 + "01", "Span.trace_id: buffer underflow"),           # length near 2^64
    ("fa 07 ff ff ff ff 0f", "buffer underflow"),
    ("f9 07 00 00", "buffer underflow"),
    ("fd 07 00", "buffer underflow"),
    ("fc 07", "unexpected end group tag"),
    ("fb 07 84 08", "unexpected end group tag"),
    ("fb 07 08 01", "invalid varint"),                                  # group never ends
    ("12 01 ff 0a 01 74", "Span.span_id: invalid string value: data is not UTF-8 encoded"),
    ("1a 02 ed a0", "Span.parent_span_id: invalid string value: data is not UTF-8 encoded"),
    ("22 02 c0 80", "Span.name: invalid string value: data is not UTF-8 encoded"),
    ("82 01 01 80", "Span.output_value_hash: invalid string value: data is not UTF-8 encoded"),
    ("c0 01 00", "Span.environment: invalid wire type: Varint (expected LengthDelimited)"),
    ("ca 01 01 fe", "Span.id: invalid string value: data is not UTF-8 encoded"),
    ("8a 01 00", "Span.kind: invalid wire type: LengthDelimited (expected Varint)"),
    ("99 01 00", "Span.is_pre_app_start: invalid wire type: SixtyFourBit (expected Varint)"),
    ("b5 01", "Span.is_root_span: invalid wire type: ThirtyTwoBit (expected Varint)"),
    ("90 01 00", "Span.status: invalid wire type: Varint (expected LengthDelimited)"),
    ("92 01 01 12 01 61", "Span.status: delimited length exceeded"),
    ("92 01 02 12 01 ff", "SpanStatus.message: Span.status: invalid string value: data is not UTF-8 encoded"),
    ("92 01 01 0c", "SpanStatus.code: Span.status: invalid wire type: EndGroup (expected Varint)"),
    ("92 01 01 1c", "Span.status: unexpected end group tag"),
    ("a2 01 01 08", "Timestamp.seconds: Span.timestamp: invalid varint"),
    ("a2 01 02 09 00", "Timestamp.seconds: Span.timestamp: invalid wire type: SixtyFourBit (expected Varint)"),
    ("a2 01 02 11 00", "Timestamp.nanos: Span.timestamp: invalid wire type: SixtyFourBit (expected Varint)"),
    ("aa 01 02 12 00", "Duration.nanos: Span.duration: invalid wire type: LengthDelimited (expected Varint)"),
    ("a3 01", "Span.timestamp: invalid wire type: StartGroup (expected LengthDelimited)"),
    ("ac 01", "Span.duration: invalid wire type: EndGroup (expected LengthDelimited)"),
    ("5a 02 0a 00", "JsonSchema.r#type: Span.input_schema: invalid wire type: LengthDelimited (expected Varint)"),
    ("62 02 10 00", "JsonSchema.properties: Span.output_schema: invalid wire type: Varint (expected LengthDelimited)"),
    ("5a 05 12 03 0a 01 ff",
     "JsonSchema.properties: Span.input_schema: invalid string value: data is not UTF-8 encoded"),
    ("5a 04 12 02 08 01",
     "JsonSchema.properties: Span.input_schema: invalid wire type: Varint (expected LengthDelimited)"),
    ("5a 03 12 01 00", "JsonSchema.properties: Span.input_schema: invalid tag value: 0"),
    ("5a 06 12 04 12 02 08 80", "JsonSchema.r#type: JsonSchema.properties: Span.input_schema: invalid varint"),
    ("5a 07 12 04 12 02 08 80 01", "JsonSchema.properties: Span.input_schema: delimited length exceeded"),
    ("5a 05 1a 02 20 80 01", "JsonSchema.items: Span.input_schema: delimited length exceeded"),
    ("5a 06 1a 01 20 80 01 08", "JsonSchema.items: Span.input_schema: delimited length exceeded"),
    ("5a 03 1a 01 28", "JsonSchema.decoded_type: JsonSchema.items: Span.input_schema: invalid varint"),
    ("5a 02 22 00", "JsonSchema.encoding: Span.input_schema: invalid wire type: LengthDelimited (expected Varint)"),
    ("5a 03 31 00 00", "JsonSchema.match_importance: Span.input_schema: buffer underflow"),
    ("5a 02 30 00", "JsonSchema.match_importance: Span.input_schema: invalid wire type: Varint (expected SixtyFourBit)"),
    ("5a 01 1a", "JsonSchema.items: Span.input_schema: invalid varint"),
    ("4a 01 0a", "Struct.fields: Span.input_value: invalid varint"),
    ("52 02 08 00", "Struct.fields: Span.output_value: invalid wire type: Varint (expected LengthDelimited)"),
    ("4a 07 0a 05 12 03 11 00 00", "Value.kind: Struct.fields: Span.input_value: buffer underflow"),
    ("ba 01 06 0a 04 12 02 32 05", "Value.kind: Struct.fields: Span.metadata: buffer underflow"),
    ("ba 01 08 0a 06 12 04 32 02 0a 05",
     "ListValue.values: Value.kind: Struct.fields: Span.metadata: buffer underflow"),
    ("4a 05 0a 03 0a 01 c3", "Struct.fields: Span.input_value: invalid string value: data is not UTF-8 encoded"),
])  # fmt: skip
def test_error_table(given, reason):
    assert decode_error(h(given)) == reason


def test_first_failure_of_a_merged_field_wins():
    # The second status occurrence fails; the first one's content does not matter.
    assert decode_error(h("92 01 02 08 01 92 01 01 08")) == "SpanStatus.code: Span.status: invalid varint"


@pytest.mark.parametrize("depth, inner, reason", [
    (100, "", None),
    (101, "", "recursion limit reached"),
    (99, "08 01", None),
    (100, "08 01", "recursion limit reached"),      # an unknown field at level 100
    (2000, "", "recursion limit reached"),
])  # fmt: skip
def test_group_nesting_limit(depth, inner, reason):
    data = b"\x0a\x01t" + nested_groups(depth, inner)
    if reason is None:
        assert roundtrip(data) == b"\x0a\x01t"
    else:
        assert decode_error(data) == reason


@pytest.mark.parametrize("schemas, ok", [(99, True), (100, True), (101, False), (150, False)])
def test_schema_nesting_limit(schemas, ok):
    data = items_chain(schemas)
    if ok:
        assert roundtrip(data) == data
    else:
        assert decode_error(data) == "JsonSchema.items: " * 100 + "Span.input_schema: recursion limit reached"


def test_struct_nesting_limit():
    # Struct at level 1 under the span; each nested struct_value adds an entry, a Value and a Struct.
    nested = nested_structs
    # The k-th entry lies at level 3k - 1, its Value at 3k and that Value's Struct at 3k + 1:
    # 33 pass, the 34th entry would lie at 101.
    assert roundtrip(nested(33)) == nested(33)
    assert decode_error(nested(34)) == (
        "Struct.fields: " + "Value.kind: Struct.fields: " * 33 + "Span.input_value: recursion limit reached"
    )


def entry(key, value):
    return ld(b"\x0a", ld(b"\x0a", key) + ld(b"\x12", value))


TRUE, FALSE, TWO = b"\x20\x01", b"\x20\x00", b"\x11" + bytes(6) + b"\x00\x40"


@pytest.mark.parametrize("value_pieces, expected", [
    # struct_value occurrences in one Value merge; a later entry of a key replaces the earlier
    ([ld(b"\x2a", entry(b"b", TRUE)), ld(b"\x2a", entry(b"a", TRUE))],
     ld(b"\x2a", entry(b"a", TRUE) + entry(b"b", TRUE))),
    ([ld(b"\x2a", entry(b"a", TRUE) + entry(b"b", TRUE)), ld(b"\x2a", entry(b"a", FALSE))],
     ld(b"\x2a", entry(b"a", FALSE) + entry(b"b", TRUE))),
    # another kind in between starts the struct afresh
    ([ld(b"\x2a", entry(b"a", TRUE)), TWO, ld(b"\x2a", entry(b"b", TRUE))], ld(b"\x2a", entry(b"b", TRUE))),
    ([ld(b"\x2a", entry(b"a", TRUE)), TWO], TWO),
    # list_value occurrences extend the list
    ([ld(b"\x32", ld(b"\x0a", TRUE)), ld(b"\x32", ld(b"\x0a", FALSE) + ld(b"\x0a", TWO))],
     ld(b"\x32", ld(b"\x0a", TRUE) + ld(b"\x0a", FALSE) + ld(b"\x0a", TWO))),
    ([ld(b"\x32", ld(b"\x0a", TRUE)), b"\x1a\x00", ld(b"\x32", ld(b"\x0a", FALSE))], ld(b"\x32", ld(b"\x0a", FALSE))),
    # a struct inside a list element merges within that element only
    ([ld(b"\x32", ld(b"\x0a", ld(b"\x2a", entry(b"y", TRUE)) + ld(b"\x2a", entry(b"x", TRUE))))],
     ld(b"\x32", ld(b"\x0a", ld(b"\x2a", entry(b"x", TRUE) + entry(b"y", TRUE))))),
])  # fmt: skip
def test_split_value_merges(value_pieces, expected):
    # The Value is the entry "v" of input_value; it arrives as separate occurrences of its
    # value field (entry field 2) as well as within one occurrence.
    within_one = ld(b"\x4a", ld(b"\x0a", ld(b"\x0a", b"v") + ld(b"\x12", b"".join(value_pieces))))
    across = ld(b"\x4a", ld(b"\x0a", ld(b"\x0a", b"v") + b"".join(ld(b"\x12", p) for p in value_pieces)))
    want = ld(b"\x4a", entry(b"v", expected))
    assert roundtrip(within_one).hex(" ") == want.hex(" ")
    assert roundtrip(across).hex(" ") == want.hex(" ")


def test_split_struct_fields_merge_like_the_package():
    pb = pytest.importorskip("support.messages")
    # Thousands of occurrences, keys repeating: merged with the last entry of a key winning,
    # lists extended. Occurrences of Span.input_value; struct_value pieces in one Value of
    # metadata; list_value pieces in one Value of output_value.
    span_pieces, struct_pieces, list_pieces = [], [], []
    for i in range(4000):
        key = b"k%d" % (i * 7919 % 1500)
        value = TRUE if i % 3 else TWO
        span_pieces.append(ld(b"\x4a", entry(key, value)))
        struct_pieces.append(ld(b"\x2a", entry(key, value)))
        list_pieces.append(ld(b"\x32", ld(b"\x0a", value)))
    raw = (
        b"".join(span_pieces)
        + ld(b"\xba\x01", entry(b"m", b"".join(struct_pieces)))
        + ld(b"\x52", entry(b"l", b"".join(list_pieces)))
    )
    assert roundtrip(raw) == pb.canonical(pb.parse(pb.Span, raw))
