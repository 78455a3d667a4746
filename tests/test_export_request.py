"""build_export_spans_request_bytes_pyobject: the envelope, argument checks, and
decode/re-encode of spans checked against the protobuf package."""

import sys

import pytest
from hypothesis import HealthCheck, assume, given, settings, strategies as st
from support.spans import STRING_FIELDS
from support.strategies import int32s, int64s, json_values, scalars
from support.wire import varint

import quarn_core as q

sp = pytest.importorskip("support.messages")

build = q.build_export_spans_request_bytes_pyobject
PREFIX = "serialization error: failed to decode span proto bytes: failed to decode Protobuf message: "


def h(text):
    return bytes.fromhex(text)


@pytest.mark.parametrize("texts, spans, expected", [
    (("", "", "", ""), [], ""),
    (("o", "", "1", ""), [b""], "0a 01 6f 1a 01 31 2a 00"),
    (("o", "e", "v", "i"), [], "0a 01 6f 12 01 65 1a 01 76 22 01 69"),
    (("", "", "", ""), [h("0a 01 74 f8 07 05")], "2a 03 0a 01 74"),
    (("", "", "", ""), [h("0a 01 61 0a 01 62")], "2a 03 0a 01 62"),
    (("", "", "", ""), [b"", h("22 01 6e"), b""], "2a 00 2a 03 22 01 6e 2a 00"),
    (("é", "", "", ""), [], "0a 02 c3 a9"),
])  # fmt: skip
def test_envelope_table(texts, spans, expected):
    assert build(*texts, spans).hex(" ") == h(expected).hex(" ")


def test_keyword_arguments_and_list_subclass():
    class Spans(list):
        pass

    got = build(
        spans=Spans([b""]), sdk_instance_id="", sdk_version="1", environment="", observable_service_id="o"
    )
    assert got == h("0a 01 6f 1a 01 31 2a 00")


class BytesSub(bytes):
    pass


@pytest.mark.parametrize("spans, message", [
    ((b"",), "spans must be a list of bytes"),
    (None, "spans must be a list of bytes"),
    (iter([b""]), "spans must be a list of bytes"),
    (b"", "spans must be a list of bytes"),
    ([b"", "x"], "each span must be bytes"),
    ([h("0a 01 ff"), 1], "each span must be bytes"),      # type checks come before any decoding
    ([bytearray(b"")], "each span must be bytes"),
    ([memoryview(b"")], "each span must be bytes"),
    ([None], "each span must be bytes"),
])  # fmt: skip
def test_argument_shape_errors(spans, message):
    with pytest.raises(TypeError) as info:
        build("", "", "", "", spans)
    assert type(info.value) is TypeError and info.value.args == (message,)


def test_bytes_subclass_accepted():
    assert build("", "", "", "", [BytesSub(h("0a 01 74"))]) == h("2a 03 0a 01 74")


@pytest.mark.parametrize("args", [(None, "", "", "", []), ("", None, "", "", []), ("", "", "", b"", [])])
def test_text_arguments_are_not_optional(args):
    with pytest.raises(TypeError, match="^argument '"):
        build(*args)


def test_first_failing_span_is_reported():
    with pytest.raises(ValueError) as info:
        build("", "", "", "", [b"", h("92 01 02 08"), h("0a 01 ff")])
    assert info.value.args == (PREFIX + "Span.status: buffer underflow",)


def test_reference_counts_unchanged():
    items = [BytesSub(h("0a 01 74")), h("12 01 73"), b"\x0a\x03abc"]
    spans = list(items)
    before = [sys.getrefcount(x) for x in items] + [sys.getrefcount(spans)]
    for _ in range(50):
        build("o", "e", "v", "i", spans)
    for bad in ([items[0], 1], [items[0], h("0a 01 ff")]):
        with pytest.raises((TypeError, ValueError)):
            build("o", "e", "v", "i", bad)
    del bad
    assert [sys.getrefcount(x) for x in items] + [sys.getrefcount(spans)] == before


# ---- against the protobuf package --------------------------------------------------

texts = st.text(max_size=5)
# The package writes the key of a map entry even when it is empty, the module leaves it out
# (both read back the same map), so generated keys and member names are never empty; member
# schemas are never the default one for the same reason.
keys = st.text(min_size=1, max_size=3)
struct_dicts = st.dictionaries(
    keys,
    json_values(scalars(st.text(max_size=4), ints=None, floats=st.floats(allow_nan=False)), keys, 3, 8),
    max_size=4,
)

schema_dicts = st.recursive(
    st.fixed_dictionaries(
        {"type": int32s},
        optional={"encoding": int32s, "decoded_type": int32s, "match_importance": st.floats(allow_nan=False)},
    ),
    lambda c: st.fixed_dictionaries(
        {"type": int32s},
        optional={"properties": st.dictionaries(keys, c, max_size=3), "items": c, "encoding": int32s},
    ),
    max_leaves=6,
)


def fill_schema(msg, d, member=False):
    msg.type = d["type"] or (1 if member else 0)
    for key in ("encoding", "decoded_type", "match_importance"):
        if key in d:
            setattr(msg, key, d[key])
    for name, sub in d.get("properties", {}).items():
        fill_schema(msg.properties[name], sub, member=True)
    if "items" in d:
        fill_schema(msg.items, d["items"])
        msg.items.SetInParent()


@st.composite
def spans(draw):
    s = sp.Span()
    for f in STRING_FIELDS:
        if draw(st.booleans()):
            setattr(s, f, draw(texts))
    for f in ("package_type", "kind"):
        if draw(st.booleans()):
            setattr(s, f, draw(int32s))
    for f in ("is_pre_app_start", "is_root_span"):
        setattr(s, f, draw(st.booleans()))
    for f in ("input_value", "output_value", "metadata"):
        if draw(st.booleans()):
            getattr(s, f).SetInParent()
            getattr(s, f).update(draw(struct_dicts))
    for f in ("input_schema", "output_schema"):
        if draw(st.booleans()):
            getattr(s, f).SetInParent()
            fill_schema(getattr(s, f), draw(schema_dicts))
    if draw(st.booleans()):
        s.status.SetInParent()
        s.status.code = draw(int32s)
        s.status.message = draw(texts)
    for f in ("timestamp", "duration"):
        if draw(st.booleans()):
            getattr(s, f).SetInParent()
            getattr(s, f).seconds = draw(int64s)
            getattr(s, f).nanos = draw(int32s)
    for f in ("environment", "id"):
        if draw(st.booleans()):
            setattr(s, f, draw(texts))
    return s


unknown_numbers = st.integers(26, 2**29 - 1)
unknown_fields = st.one_of(
    st.tuples(unknown_numbers, st.integers(0, 2**64 - 1)).map(lambda t: varint(t[0] << 3) + varint(t[1])),
    st.tuples(unknown_numbers, st.binary(max_size=6)).map(
        lambda t: varint(t[0] << 3 | 2) + varint(len(t[1])) + t[1]
    ),
    st.tuples(unknown_numbers, st.binary(min_size=4, max_size=4)).map(lambda t: varint(t[0] << 3 | 5) + t[1]),
    st.tuples(unknown_numbers, st.binary(min_size=8, max_size=8)).map(lambda t: varint(t[0] << 3 | 1) + t[1]),
    st.tuples(unknown_numbers, st.integers(0, 99)).map(
        lambda t: varint(t[0] << 3 | 3) + varint(8 | 0) + varint(t[1]) + varint(t[0] << 3 | 4)
    ),
)


def module_span(data):
    out = build("", "", "", "", [data])
    msg = sp.parse(sp.ExportSpansRequest, out)
    assert len(msg.spans) == 1
    return out, msg.spans[0]


@settings(max_examples=250, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(spans(), min_size=1, max_size=3), st.lists(unknown_fields, max_size=3), st.data())
def test_merged_spans_match_package(parts, unknowns, data):
    pieces = [p.SerializeToString() for p in parts]
    for u in unknowns:
        pieces.insert(data.draw(st.integers(0, len(pieces))), u)
    raw = b"".join(pieces)
    expected = sp.canonical(sp.parse(sp.Span, raw))
    out = build("", "", "", "", [raw])
    assert out == b"\x2a" + varint(len(expected)) + expected


@settings(max_examples=60, deadline=None)
@given(st.lists(spans(), max_size=4), texts, texts, texts, texts)
def test_request_matches_package(span_list, a, b, c, d):
    out = build(a, b, c, d, [s.SerializeToString() for s in span_list])
    want = sp.ExportSpansRequest(observable_service_id=a, environment=b, sdk_version=c, sdk_instance_id=d)
    want.spans.extend(span_list)
    assert out == want.SerializeToString(deterministic=True)
    assert build(a, b, c, d, [s.SerializeToString() for s in span_list]) == out  # equal inputs, equal bytes


REASONS = ("buffer underflow", "invalid varint")


def outcome(raw):
    """(module output or error reason, package message or None)."""
    try:
        ours = build("", "", "", "", [raw])
    except ValueError as e:
        (text,) = e.args
        assert text.startswith(PREFIX)
        ours = text[len(PREFIX) :]
    try:
        theirs = sp.parse(sp.Span, raw)
    except Exception:  # the package's DecodeError
        theirs = None
    return ours, theirs


def is_repeated(field):
    repeated = getattr(field, "is_repeated", None)  # newer package versions
    return field.label == field.LABEL_REPEATED if repeated is None else repeated


def misread_by_package(msg):
    """True when the package filed a known field as unknown somewhere in `msg`.

    Its pure-Python reader matches keys by their bytes, so a key written with a
    needless continuation byte (92 00 for 12) is not recognised; the module reads
    the key's value, as the wire format defines it.
    """
    from google.protobuf import unknown_fields

    known = {f.number for f in msg.DESCRIPTOR.fields}
    if any(f.field_number in known for f in unknown_fields.UnknownFieldSet(msg)):
        return True
    for field, value in msg.ListFields():
        if field.message_type is None:
            continue
        if field.message_type.GetOptions().map_entry:
            values = value.values() if field.message_type.fields_by_name["value"].message_type else []
        elif is_repeated(field):
            values = value
        else:
            values = [value]
        if any(misread_by_package(v) for v in values):
            return True
    return False


def agrees_when_accepted(ours, theirs):
    # The module writes default member values of maps without their value field, the package
    # with an empty one; both mean the same map, so compare what the package makes of each.
    assert theirs is not None, "the module accepted bytes that the package refuses"
    assume(not misread_by_package(theirs))
    got = sp.parse(sp.ExportSpansRequest, ours).spans
    assert len(got) == 1 and sp.canonical(got[0]) == sp.canonical(theirs)


@settings(max_examples=150, deadline=None)
@given(spans().filter(lambda s: s.ByteSize() > 0), st.data())
def test_truncated_spans_refused_by_both(span, data):
    raw = span.SerializeToString()
    cut = data.draw(st.integers(0, len(raw) - 1))
    ours, theirs = outcome(raw[:cut])
    if isinstance(ours, bytes):
        agrees_when_accepted(ours, theirs)  # cut at a field boundary: a shorter valid span
    else:
        assert theirs is None
        assert ours.endswith(REASONS), ours


@settings(max_examples=300, deadline=None)
@given(spans(), st.data())
def test_corrupted_spans(span, data):
    raw = bytearray(span.SerializeToString() + b"\x0a\x01t")
    for _ in range(data.draw(st.integers(1, 3))):
        raw[data.draw(st.integers(0, len(raw) - 1))] = data.draw(st.integers(0, 255))
    ours, theirs = outcome(bytes(raw))
    if isinstance(ours, bytes):
        agrees_when_accepted(ours, theirs)


@settings(max_examples=300, deadline=None)
@given(st.binary(max_size=64))
def test_random_bytes(raw):
    ours, theirs = outcome(raw)
    if isinstance(ours, bytes):
        agrees_when_accepted(ours, theirs)


@pytest.mark.parametrize("raw, reason", [
    (b"\x0a\x03a\xffb", "Span.trace_id: invalid string value: data is not UTF-8 encoded"),
    (b"\x5a\x05\x12\x03\x0a\x01\xff", "JsonSchema.properties: Span.input_schema: invalid string value: "
                                      "data is not UTF-8 encoded"),
    (b"\x4a\x09\x0a\x07\x0a\x01a\x12\x02\x1a\x01", "Value.kind: Struct.fields: Span.input_value: buffer underflow"),
    (b"\x92\x01\x04\x08\x01\x12\x01", "SpanStatus.message: Span.status: buffer underflow"),
])  # fmt: skip
def test_corruptions_refused_by_both_with_exact_text(raw, reason):
    ours, theirs = outcome(raw)
    assert ours == reason
    assert theirs is None
