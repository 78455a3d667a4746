"""A table of calls of all nine functions, with the exact outcome of each.

Used by the soak test (each call repeated many times, memory and reference counts
watched) and the thread test (all calls at once from many threads). Every entry has
valid or failing arguments and the one outcome they must give: the result, computed
here from independent oracles (hashlib, base64, the protobuf package), or the
exception class and its arguments.
"""

import base64
import contextlib
import hashlib
import os
import sys

from google.protobuf import struct_pb2

import quarn_core as q

from .objects import (
    boom,
    hook,
    interrupt,
    nest,
    self_containing_dict,
    self_containing_list,
    toggling_dict,
    via_tuple,
)
from .spans import MINIMAL_SPAN, span_args
from .wire import ld, varint

SANITIZED = os.environ.get("QUARN_SANITIZED") == "1"


def sha(text):
    return hashlib.sha256(text.encode("utf-8")).hexdigest()


def struct_oracle(value):
    s = struct_pb2.Struct()
    s.update(value)
    return s.SerializeToString(deterministic=True)


class Index:
    """__index__ gives value, or raises what value() makes (a new exception each time, since
    raising one instance again and again would grow its traceback without bound)."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if callable(self.value):
            raise self.value()
        return self.value


class Ok:
    def __init__(self, value):
        self.value = value


class Raises:
    """An exception of exactly this class; args None: the class is all the module defines."""

    def __init__(self, cls, *args, check=None):
        self.cls, self.args, self.check = cls, (args or None), check


def unicode_error(text):
    try:
        text.encode("utf-8")
    except UnicodeEncodeError as e:
        return e.args
    raise AssertionError(text)


# ---- valid inputs and what they give -------------------------------------------------------

DOC = '{"b": [1, 2.50, "\\u00e9", {"y": null}], "a": true, "c": 15e-1}'
DOC_CANONICAL = '{"a":true,"b":[1,2.5,"é",{"y":null}],"c":1.5}'

INNER = '{"x": [1, 2.0], "k": "v"}'
INNER_CANONICAL = '{"k":"v","x":[1,2.0]}'
B64 = base64.b64encode(INNER.encode()).decode()
PAYLOAD_TEXT = '{"body": "%s", "n": 1, "s": "aGk="}' % B64
RULES_TEXT = '{"body": {"encoding": 1, "decoded_type": 1, "match_importance": 2}, "s": [1]}'
PAYLOAD_NORMALIZED = '{"body":"%s","n":1,"s":"aGk="}' % B64
PAYLOAD_MERGED = '{"body":%s,"n":1,"s":"hi"}' % INNER_CANONICAL
NUMBER = '{"properties":{},"type":1}'
STRING = '{"properties":{},"type":2}'
PAYLOAD_SCHEMA = (
    '{"properties":{"body":{"decoded_type":1,"encoding":1,"match_importance":2.0,"properties":{'
    '"k":' + STRING + ',"x":{"items":' + NUMBER + ',"properties":{},"type":7}},"type":6},'
    '"n":' + NUMBER + ',"s":{"encoding":1,"properties":{},"type":2}},"type":6}'
)
PAYLOAD_RESULT = (PAYLOAD_NORMALIZED, PAYLOAD_MERGED, sha(PAYLOAD_MERGED), PAYLOAD_SCHEMA, sha(PAYLOAD_SCHEMA),
                  struct_oracle({"body": B64, "n": 1, "s": "aGk="}))  # fmt: skip


def object_payload():
    return {
        "body": B64,
        "n": 1,
        "s": "aGk=",
        "list": [1, 2.5, None, True, "x" * 40, (3, "t")],
        "h": hook(index=boom, float=lambda s: 0.25),
    }


OBJECT_NORMALIZED = {
    "body": B64,
    "h": 0.25,
    "list": [1, 2.5, None, True, "x" * 40, [3, "t"]],
    "n": 1,
    "s": "aGk=",
}
OBJECT_MERGED = '{"body":%s,"h":0.25,"list":[1,2.5,null,true,"%s",[3,"t"]],"n":1,"s":"hi"}' % (
    INNER_CANONICAL,
    "x" * 40,
)
OBJECT_SCHEMA = {
    "type": 6, "properties": {
        "body": {"type": 6, "encoding": 1, "decoded_type": 1, "match_importance": 2.0, "properties": {
            "k": {"type": 2, "properties": {}},
            "x": {"type": 7, "properties": {}, "items": {"type": 1, "properties": {}}}}},
        "h": {"type": 1, "properties": {}},
        "list": {"type": 7, "properties": {}, "items": {"type": 1, "properties": {}}},
        "n": {"type": 1, "properties": {}},
        "s": {"type": 2, "encoding": 1, "properties": {}}}}  # fmt: skip
OBJECT_SCHEMA_TEXT = (
    '{"properties":{"body":{"decoded_type":1,"encoding":1,"match_importance":2.0,"properties":{'
    '"k":' + STRING + ',"x":{"items":' + NUMBER + ',"properties":{},"type":7}},"type":6},'
    '"h":' + NUMBER + ',"list":{"items":' + NUMBER + ',"properties":{},"type":7},'
    '"n":' + NUMBER + ',"s":{"encoding":1,"properties":{},"type":2}},"type":6}'
)
OBJECT_RULES = {"body": {"encoding": 1, "decoded_type": 1, "match_importance": 2}, "s": (1,)}
OBJECT_RESULT = (OBJECT_NORMALIZED, sha(OBJECT_MERGED), OBJECT_SCHEMA, sha(OBJECT_SCHEMA_TEXT),
                 struct_oracle({"body": B64, "h": 0.25, "list": [1, 2.5, None, True, "x" * 40, [3, "t"]],
                                "n": 1, "s": "aGk="}))  # fmt: skip

TRUE, NULL = b"\x20\x01", b"\x08\x00"


def entry(key, value):
    return ld(b"\x0a", ld(b"\x0a", key) + ld(b"\x12", value))


def full_span_kwargs():
    schema = {"type": 6, "properties": {"a": {"type": 1}}}
    return span_args(
        package_type=3,
        kind=2,
        status_code=Index(1),
        status_message="m",
        is_root_span=True,
        timestamp_seconds=1700000000,
        timestamp_nanos=5,
        duration_nanos=250,
        environment="prod",
        input_schema=schema,
        output_schema=[schema],
        metadata={"k": "v"},
        input_value={"x": [1, 2.5]},
        output_value={"ignored": 1},
        output_value_proto_struct_bytes=entry(b"b", TRUE) + entry(b"a", NULL) + entry(b"b", NULL),
    )


FULL_SPAN = (
    b"\x0a\x01t\x12\x01s\x22\x01n\x40\x03"
    + ld(b"\x4a", struct_oracle({"x": [1, 2.5]}))
    + ld(b"\x52", entry(b"a", NULL) + entry(b"b", NULL))
    + ld(b"\x5a", bytes.fromhex("0806 1207 0a0161 12020801"))
    + b"\x62\x00"
    + b"\x88\x01\x02"
    + ld(b"\x92\x01", b"\x08\x01\x12\x01m")
    + ld(b"\xa2\x01", b"\x08" + varint(1700000000) + b"\x10\x05")
    + ld(b"\xaa\x01", b"\x10" + varint(250))
    + b"\xb0\x01\x01"
    + ld(b"\xba\x01", struct_oracle({"k": "v"}))
    + ld(b"\xc2\x01", b"prod")
)

EXPORT_ARGS = ("svc", "prod", "1.0", "i-1")
EXPORT_HEAD = ld(b"\x0a", b"svc") + ld(b"\x12", b"prod") + ld(b"\x1a", b"1.0") + ld(b"\x22", b"i-1")
# A span with unknown fields and a repeated field: written again in the module's own form.
MESSY_SPAN = b"\x0a\x01x\xf8\x07\x05\x0a\x01t" + ld(b"\xfa\x07", b"junk") + b"\x40\x03"


def nested_groups(depth):
    return b"\xfb\x07" * depth + b"\xfc\x07" * depth  # start and end groups of field 127


DECODE = "serialization error: failed to decode span proto bytes: failed to decode Protobuf message: "
STRUCT_DECODE = "serialization error: failed to decode Protobuf message: "
UNSUPPORTED = "unsupported value type for Rust export payload processing"
TOO_DEEP = "maximum nesting depth of 512 exceeded while converting a Python object"


def span_call(**changes):
    return (), span_args(**changes)


# (id, function name, make() -> (args, kwargs), expected outcome). make() builds fresh arguments.
CASES = [
    ("normalize ok", "normalize_json", lambda: ((DOC,), {}), Ok(DOC_CANONICAL)),
    ("normalize bad json", "normalize_json", lambda: (("[1,]",), {}),
     Raises(ValueError, "invalid json: trailing comma at line 1 column 4")),
    ("normalize too deep", "normalize_json", lambda: (("[" * 200 + "]" * 200,), {}),
     Raises(ValueError, "invalid json: recursion limit exceeded at line 1 column 128")),
    ("normalize out of range", "normalize_json", lambda: (("[1e400]",), {}),
     Raises(ValueError, "invalid json: number out of range at line 1 column 6")),
    ("normalize bytes", "normalize_json", lambda: ((b"{}",), {}),
     Raises(TypeError, "argument 'payload_json': 'bytes' object cannot be cast as 'str'")),
    ("normalize surrogate", "normalize_json", lambda: (('"\udc00"',), {}),
     Raises(UnicodeEncodeError, *unicode_error('"\udc00"'))),
    ("normalize two args", "normalize_json", lambda: (("{}", "{}"), {}),
     Raises(TypeError, "normalize_json() takes 1 positional arguments but 2 were given")),
    ("normalize missing", "normalize_json", lambda: ((), {}),
     Raises(TypeError, "normalize_json() missing 1 required positional argument: 'payload_json'")),
    ("hash ok", "deterministic_hash", lambda: ((DOC,), {}), Ok(sha(DOC_CANONICAL))),
    ("hash bad json", "deterministic_hash", lambda: (("{} x",), {}),
     Raises(ValueError, "invalid json: trailing characters at line 1 column 4")),
    ("hash unexpected keyword", "deterministic_hash", lambda: ((), {"payload": "{}"}),
     Raises(TypeError, "deterministic_hash() got an unexpected keyword argument 'payload'")),
    ("normalize_and_hash ok", "normalize_and_hash", lambda: ((), {"payload_json": DOC}),
     Ok((DOC_CANONICAL, sha(DOC_CANONICAL)))),
    ("normalize_and_hash empty", "normalize_and_hash", lambda: (("",), {}),
     Raises(ValueError, "invalid json: EOF while parsing a value at line 1 column 0")),
    ("normalize_and_hash int", "normalize_and_hash", lambda: ((5,), {}),
     Raises(TypeError, "argument 'payload_json': 'int' object cannot be cast as 'str'")),
    ("struct ok", "object_to_protobuf_struct_bytes", lambda: ((DOC,), {}),
     Ok(struct_oracle({"a": True, "b": [1, 2.5, "é", {"y": None}], "c": 1.5}))),
    ("struct not an object", "object_to_protobuf_struct_bytes", lambda: (("[1]",), {}), Ok(b"")),
    ("struct bad json", "object_to_protobuf_struct_bytes", lambda: (('{"a":1',), {}),
     Raises(ValueError, "invalid json: EOF while parsing an object at line 1 column 6")),
    ("field count ok", "object_to_protobuf_struct_field_count", lambda: (('{"a":1,"a":2,"b":{"c":3}}',), {}), Ok(2)),
    ("field count bad json", "object_to_protobuf_struct_field_count", lambda: (("[1 2]",), {}),
     Raises(ValueError, "invalid json: expected `,` or `]` at line 1 column 4")),
    ("payload ok", "process_export_payload", lambda: ((PAYLOAD_TEXT, RULES_TEXT), {}), Ok(PAYLOAD_RESULT)),
    ("payload no rules", "process_export_payload", lambda: (("[1]", None), {}),
     Ok(("[1]", "[1]", sha("[1]"), '{"items":' + NUMBER + ',"properties":{},"type":7}',
         sha('{"items":' + NUMBER + ',"properties":{},"type":7}'), b""))),
    ("payload bad payload", "process_export_payload", lambda: (("[1,]", "null"), {}),
     Raises(ValueError, "invalid json: trailing comma at line 1 column 4")),
    ("payload rules not a map", "process_export_payload", lambda: (('{"a":"x"}', "null"), {}),
     Raises(ValueError, "invalid json: invalid type: null, expected a map at line 1 column 4")),
    ("payload rules float", "process_export_payload", lambda: (('{"a":"x"}', '{"a": {"encoding": 1.0}}'), {}),
     Raises(ValueError, "invalid json: invalid type: floating point `1.0`, expected i32 at line 1 column 22")),
    ("payload rules duplicate", "process_export_payload",
     lambda: (('{"a":"x"}', '{"a": {"encoding": 1, "encoding": 2}}'), {}),
     Raises(ValueError, "invalid json: duplicate field `encoding` at line 1 column 32")),
    ("payload rules bytes", "process_export_payload", lambda: (("{}", b"{}"), {}),
     Raises(TypeError, "argument 'schema_merges_json': 'bytes' object cannot be cast as 'str'")),
    ("payload multiple values", "process_export_payload", lambda: (("{}", None), {"payload_json": "{}"}),
     Raises(TypeError, "process_export_payload() got multiple values for argument 'payload_json'")),
    ("object ok", "process_export_payload_pyobject", lambda: ((object_payload(), OBJECT_RULES), {}),
     Ok(OBJECT_RESULT)),
    ("object unsupported", "process_export_payload_pyobject", lambda: (({"a": [1, {2, 3}]}, None), {}),
     Raises(TypeError, UNSUPPORTED)),
    ("object key not str", "process_export_payload_pyobject", lambda: (({"a": 1, 1: "x"}, None), {}),
     Raises(TypeError, "'int' object cannot be cast as 'str'")),
    ("object key surrogate", "process_export_payload_pyobject", lambda: (({"\ud800": 1}, None), {}),
     Raises(UnicodeEncodeError, *unicode_error("\ud800"))),
    ("object hook raises", "process_export_payload_pyobject", lambda: (([hook(index=boom)], None), {}),
     Raises(TypeError, UNSUPPORTED)),
    ("object hook interrupts", "process_export_payload_pyobject",
     lambda: (({"a": [1, hook(float=interrupt)]}, None), {}), Raises(KeyboardInterrupt, "hook")),
    ("object depth bound", "process_export_payload_pyobject", lambda: ((nest(513, lambda v: [v]), None), {}),
     Raises(RecursionError, TOO_DEEP)),
    ("object contains itself", "process_export_payload_pyobject", lambda: ((self_containing_dict(), None), {}),
     Raises(RecursionError, TOO_DEEP)),
    ("object via tuple", "process_export_payload_pyobject", lambda: ((via_tuple(), None), {}),
     Raises(RecursionError, TOO_DEEP)),
    ("object reader depth", "process_export_payload_pyobject", lambda: ((nest(128, lambda v: {"k": v}), None), {}),
     Raises(ValueError, "serialization error: recursion limit exceeded at line 1 column 636")),
    ("object hook calls the module", "process_export_payload_pyobject",
     lambda: (({"r": hook(index=lambda s: len(q.normalize_json("[1, 2]")))}, None), {}),
     Ok(({"r": 5}, sha('{"r":5}'), {"type": 6, "properties": {"r": {"type": 1, "properties": {}}}},
         sha('{"properties":{"r":' + NUMBER + '},"type":6}'), struct_oracle({"r": 5})))),
    ("object dict changed", "process_export_payload_pyobject", lambda: ((toggling_dict(), None), {}),
     Raises(BaseException, "dictionary changed size during iteration",
            check=lambda e: type(e).__name__ == "PanicException")),
    ("object rules float", "process_export_payload_pyobject",
     lambda: (({"a": 1}, {"a": {"encoding": 1.0}}), {}),
     Raises(ValueError, "invalid json: invalid type: floating point `1.0`, expected i32 at line 1 column 20")),
    ("object rules list", "process_export_payload_pyobject", lambda: (({"a": 1}, [1]), {}),
     Raises(ValueError, "invalid json: invalid type: sequence, expected a map at line 1 column 0")),
    ("object rules contain themselves", "process_export_payload_pyobject",
     lambda: (({"a": 1}, {"a": self_containing_list()}), {}), Raises(RecursionError, TOO_DEEP)),
    ("span ok", "build_span_proto_bytes_pyobject", lambda: ((), full_span_kwargs()), Ok(FULL_SPAN)),
    ("span bad kind", "build_span_proto_bytes_pyobject", lambda: span_call(kind=99, input_value={"a": [1]}),
     Raises(ValueError, "invalid kind enum: 99")),
    ("span bad package type", "build_span_proto_bytes_pyobject", lambda: span_call(package_type=Index(-1)),
     Raises(ValueError, "invalid package_type enum: -1")),
    ("span bad status code", "build_span_proto_bytes_pyobject", lambda: span_call(status_code=3),
     Raises(ValueError, "invalid status_code enum: 3")),
    ("span bad struct bytes", "build_span_proto_bytes_pyobject",
     lambda: span_call(input_value_proto_struct_bytes=b"\x0a\x06\x0a\x03abc"),
     Raises(ValueError, STRUCT_DECODE + "Struct.fields: buffer underflow")),
    ("span bytearray", "build_span_proto_bytes_pyobject",
     lambda: span_call(output_value_proto_struct_bytes=bytearray(b"\x0a\x00"), kind=99),
     Raises(TypeError, "expected bytes or None")),
    ("span unsupported value", "build_span_proto_bytes_pyobject",
     lambda: span_call(metadata={"m": complex(1, 2)}, kind=99), Raises(TypeError, UNSUPPORTED)),
    ("span overflow", "build_span_proto_bytes_pyobject", lambda: span_call(timestamp_nanos=2**31),
     Raises(OverflowError)),
    ("span not a bool", "build_span_proto_bytes_pyobject", lambda: span_call(is_root_span=1),
     Raises(TypeError, "argument 'is_root_span': 'int' object cannot be cast as 'bool'")),
    ("span index raises", "build_span_proto_bytes_pyobject", lambda: span_call(kind=Index(lambda: ValueError("bad"))),
     Raises(ValueError, "bad")),
    ("span index type error", "build_span_proto_bytes_pyobject", lambda: span_call(kind=Index(lambda: TypeError("bad"))),
     Raises(TypeError, "argument 'kind': bad")),
    ("span hook interrupts", "build_span_proto_bytes_pyobject",
     lambda: span_call(input_value={"a": hook(index=interrupt)}), Raises(KeyboardInterrupt, "hook")),
    ("span metadata contains itself", "build_span_proto_bytes_pyobject",
     lambda: span_call(metadata=self_containing_dict()), Raises(RecursionError, TOO_DEEP)),
    ("span schema too deep", "build_span_proto_bytes_pyobject",
     lambda: span_call(output_schema=nest(600, lambda v: {"items": v})), Raises(RecursionError, TOO_DEEP)),
    ("span missing", "build_span_proto_bytes_pyobject", lambda: (tuple(MINIMAL_SPAN.values())[:28], {}),
     Raises(TypeError, "build_span_proto_bytes_pyobject() missing 1 required positional argument: "
                       "'output_value_proto_struct_bytes'")),
    ("export ok", "build_export_spans_request_bytes_pyobject", lambda: (EXPORT_ARGS + ([FULL_SPAN, MESSY_SPAN],), {}),
     Ok(EXPORT_HEAD + ld(b"\x2a", FULL_SPAN) + ld(b"\x2a", b"\x0a\x01t\x40\x03"))),
    ("export tuple", "build_export_spans_request_bytes_pyobject", lambda: (EXPORT_ARGS + ((FULL_SPAN,),), {}),
     Raises(TypeError, "spans must be a list of bytes")),
    ("export not bytes", "build_export_spans_request_bytes_pyobject",
     lambda: (EXPORT_ARGS + ([FULL_SPAN, bytearray(b"")],), {}), Raises(TypeError, "each span must be bytes")),
    ("export bad span", "build_export_spans_request_bytes_pyobject",
     lambda: (EXPORT_ARGS + ([FULL_SPAN, b"\x0a\x01\xff"],), {}),
     Raises(ValueError, DECODE + "Span.trace_id: invalid string value: data is not UTF-8 encoded")),
    ("export deep groups", "build_export_spans_request_bytes_pyobject",
     lambda: (EXPORT_ARGS + ([nested_groups(300)],), {}), Raises(ValueError, DECODE + "recursion limit reached")),
    ("export None text", "build_export_spans_request_bytes_pyobject", lambda: (("", None, "", "", []), {}),
     Raises(TypeError, "argument 'environment': 'NoneType' object cannot be cast as 'str'")),
]  # fmt: skip

NOISY = {"object dict changed"}  # each call writes a short failure report to standard error


def outcome_error(case_id, expected, got):
    return f"{case_id}: expected {describe(expected)}, got {got!r}"


def describe(expected):
    if isinstance(expected, Ok):
        return f"result {expected.value!r}"[:300]
    return f"{expected.cls.__name__}{expected.args!r}"


def matches(expected, result=None, error=None):
    """True when a call that returned result or raised error gave the expected outcome."""
    if isinstance(expected, Ok):
        return error is None and type(result) is type(expected.value) and result == expected.value
    if error is None:
        return False
    if expected.cls is BaseException:
        if not expected.check(error):
            return False
    elif type(error) is not expected.cls:
        return False
    return expected.args is None or error.args == expected.args


def call(fn, args, kwargs):
    """(result, None) or (None, exception)."""
    try:
        return fn(*args, **kwargs), None
    except BaseException as e:  # the outcome itself is under test
        return None, e


def function(name):
    return getattr(q, name)


def shared(o):
    """None, the booleans, small integers, empty and one-character strings and bytes, interned
    strings (every code object naming them holds them), the empty tuple and the interpreter's
    static objects (their counts start near 10^9) are single objects that the interpreter and the
    test's own code reference too, so their counts move a little; a leak would move them by the
    call count."""
    if o is None or o is True or o is False or o == () or sys.getrefcount(o) > 10**8:
        return True
    kind = type(o)
    if kind is str and len(o) > 1 and sys.intern(o[:1] + o[1:]) is o:
        return True
    return (kind is int and -5 <= o <= 256) or (kind in (str, bytes) and len(o) <= 1)


def reachable(*roots, limit=20_000):
    """Every object reachable from roots through lists, tuples and dicts (keys and values)."""
    seen, out, todo = set(), [], list(roots)
    while todo and len(out) < limit:
        o = todo.pop()
        if id(o) in seen:
            continue
        seen.add(id(o))
        out.append(o)
        if isinstance(o, (list, tuple)):
            todo.extend(o)
        elif isinstance(o, dict):
            todo.extend(o.keys())
            todo.extend(o.values())
    return out


@contextlib.contextmanager
def quiet_stderr(on):
    """Standard error (the descriptor) to /dev/null while on; never under the sanitizer, whose
    reports go there."""
    if not on or SANITIZED:
        yield
        return
    sys.stderr.flush()
    saved = os.dup(2)
    null = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(null, 2)
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)
        os.close(null)
