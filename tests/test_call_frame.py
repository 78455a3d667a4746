"""The module object, argument binding and parameter conversion."""

import inspect
import subprocess
import sys

import pytest
from support.interpreter import says
from support.spans import SPAN_PARAMS, span_args

import quarn_core as qc

EXPORT_PARAMS = ["observable_service_id", "environment", "sdk_version", "sdk_instance_id", "spans"]

# Registration order, which is also the order of __all__.
FUNCTIONS = [
    ("normalize_json", ["payload_json"]),
    ("deterministic_hash", ["payload_json"]),
    ("normalize_and_hash", ["payload_json"]),
    ("object_to_protobuf_struct_bytes", ["payload_json"]),
    ("object_to_protobuf_struct_field_count", ["payload_json"]),
    ("process_export_payload", ["payload_json", "schema_merges_json"]),
    ("process_export_payload_pyobject", ["payload", "schema_merges"]),
    ("build_span_proto_bytes_pyobject", SPAN_PARAMS),
    ("build_export_spans_request_bytes_pyobject", EXPORT_PARAMS),
]


def test_module_object():
    names = [name for name, _ in FUNCTIONS]
    assert qc.__all__ == names
    assert type(qc.__all__) is list
    assert qc.__doc__ == ""
    assert qc.__name__ == "quarn_core"
    # Attributes are set in registration order.
    assert [k for k in vars(qc) if k in names] == names
    assert len(SPAN_PARAMS) == 29


@pytest.mark.parametrize("name,params", FUNCTIONS)
def test_function_signature(name, params):
    fn = getattr(qc, name)
    assert fn.__name__ == name
    assert fn.__module__ == "quarn_core"
    assert fn.__doc__ is None
    assert fn.__text_signature__ == "(" + ", ".join(params) + ")"
    sig = inspect.signature(fn)
    assert [(p.name, p.kind, p.default) for p in sig.parameters.values()] == [
        (p, inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.empty) for p in params
    ]


def test_second_initialisation_fails():
    code = (
        "import sys, quarn_core\n"
        "del sys.modules['quarn_core']\n"
        "try:\n"
        "    import quarn_core\n"
        "except ImportError as e:\n"
        "    print(type(e).__name__, e, sep=': ')\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout == (
        "ImportError: PyO3 modules compiled for CPython 3.8 or older may only be initialized once "
        "per interpreter process\n"
    )


def _span_missing(names):
    quoted = [f"'{n}'" for n in names]
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


BINDING = [
    ("normalize_json", (), {}, "normalize_json() missing 1 required positional argument: 'payload_json'"),
    ("normalize_json", ("{}", "{}"), {}, "normalize_json() takes 1 positional arguments but 2 were given"),
    ("deterministic_hash", ("1", "2", "3"), {}, "deterministic_hash() takes 1 positional arguments but 3 were given"),
    ("normalize_json", (), {"payload": "{}"}, "normalize_json() got an unexpected keyword argument 'payload'"),
    ("normalize_json", ("{}",), {"payload_json": "{}"}, "normalize_json() got multiple values for argument 'payload_json'"),
    ("process_export_payload", ("{}",), {},
     "process_export_payload() missing 1 required positional argument: 'schema_merges_json'"),
    ("process_export_payload", (), {"schema_merges_json": None},
     "process_export_payload() missing 1 required positional argument: 'payload_json'"),
    ("process_export_payload", (), {},
     "process_export_payload() missing 2 required positional arguments: 'payload_json' and 'schema_merges_json'"),
    ("process_export_payload_pyobject", (), {},
     "process_export_payload_pyobject() missing 2 required positional arguments: 'payload' and 'schema_merges'"),
    ("build_export_spans_request_bytes_pyobject", (), {},
     "build_export_spans_request_bytes_pyobject() missing 5 required positional arguments: 'observable_service_id', "
     "'environment', 'sdk_version', 'sdk_instance_id', and 'spans'"),
    ("build_export_spans_request_bytes_pyobject", ("a", "b"), {},
     "build_export_spans_request_bytes_pyobject() missing 3 required positional arguments: 'sdk_version', "
     "'sdk_instance_id', and 'spans'"),
    ("build_export_spans_request_bytes_pyobject", (), {"sdk_instance_id": "i", "environment": "e"},
     "build_export_spans_request_bytes_pyobject() missing 3 required positional arguments: "
     "'observable_service_id', 'sdk_version', and 'spans'"),
    ("build_export_spans_request_bytes_pyobject", ("a", "b", "c", "d", [], 6), {},
     "build_export_spans_request_bytes_pyobject() takes 5 positional arguments but 6 were given"),
    ("build_span_proto_bytes_pyobject", (), {},
     "build_span_proto_bytes_pyobject() missing 29 required positional arguments: " + _span_missing(SPAN_PARAMS)),
    ("build_span_proto_bytes_pyobject", ("",) * 27, {"input_value_proto_struct_bytes": None},
     "build_span_proto_bytes_pyobject() missing 1 required positional argument: 'output_value_proto_struct_bytes'"),
    ("build_span_proto_bytes_pyobject", (0,) * 30, {},
     "build_span_proto_bytes_pyobject() takes 29 positional arguments but 30 were given"),
    ("build_span_proto_bytes_pyobject", ("",) * 29, {"trace_id": ""},
     "build_span_proto_bytes_pyobject() got multiple values for argument 'trace_id'"),
    # Precedence: positional count first, then keywords in dictionary order, then missing ones.
    ("normalize_json", ("{}", "{}"), {"nope": 1}, "normalize_json() takes 1 positional arguments but 2 were given"),
    ("normalize_json", ("{}", "{}"), {"payload_json": 1}, "normalize_json() takes 1 positional arguments but 2 were given"),
    ("process_export_payload", (), {"nope": 1}, "process_export_payload() got an unexpected keyword argument 'nope'"),
    ("normalize_json", ("{}",), {"payload_json": 1, "nope": 2},
     "normalize_json() got multiple values for argument 'payload_json'"),
    ("normalize_json", ("{}",), {"nope": 2, "payload_json": 1},
     "normalize_json() got an unexpected keyword argument 'nope'"),
    ("process_export_payload", (None,), {"payload_json": "{}"},
     "process_export_payload() got multiple values for argument 'payload_json'"),
    # Binding comes before conversion: the bytes argument is never looked at.
    ("normalize_json", (b"{}",), {"x": 1}, "normalize_json() got an unexpected keyword argument 'x'"),
]  # fmt: skip


@pytest.mark.parametrize("name,args,kwargs,message", BINDING)
def test_binding_errors(name, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        getattr(qc, name)(*args, **kwargs)
    assert type(info.value) is TypeError
    assert info.value.args == (message,)


def test_keyword_and_positional_are_the_same():
    assert qc.normalize_json(payload_json=' {"b": 1} ') == qc.normalize_json(' {"b": 1} ') == '{"b":1}'
    assert type(qc.normalize_json(Text(' ["\u00e9"] '))) is str
    assert qc.normalize_json(Text(' ["\u00e9"] ')) == '["\u00e9"]'


# ---- conversion ---------------------------------------------------------------


class Outer:
    class Inner:
        pass


class NoTypeName(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name")
        return super().__getattribute__(name)


Nameless = NoTypeName("Nameless", (), {})


class Text(str):
    pass


class Int(int):
    pass


class Index:
    """An object that offers an integer (or raises) through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class SubTypeError(TypeError):
    pass


class Says:
    """A row's text is the interpreter's own for this call on the row's value; its wording
    differs between interpreter versions."""

    def __init__(self, call):
        self.call = call


INDEX, INT64, UTF8 = Says("index"), Says("int64"), Says("utf8")
INT32_OVERFLOW = "Python int too large to convert to C int"


def numpy_like(name, module="numpy", value=None):
    ns = {"__module__": module}
    if value is not None:
        ns["__bool__"] = lambda self: value
    return type(name, (), ns)()


SPAN_BASE = span_args(trace_id="0af7651916cd43dd8448eb211c80319c", span_id="b7ad6b7169203331", name="op",
                      package_name="pkg", instrumentation_name="inst", submodule_name="sub", package_type=1,
                      input_schema={}, output_schema={})  # fmt: skip
EXPORT_BASE = dict(
    observable_service_id="svc", environment="env", sdk_version="1", sdk_instance_id="i", spans=[]
)


def outcome(fn, **kwargs):
    try:
        return ("ok", fn(**kwargs))
    except Exception as e:  # the body's outcome, whatever it is
        return (type(e), e.args)


def span(**changes):
    return outcome(qc.build_span_proto_bytes_pyobject, **{**SPAN_BASE, **changes})


def is_conversion_error(result):
    # Bodies choose their own TypeError texts, none of which carries the frame's "argument" prefix.
    cls, args = result
    if cls is TypeError:
        return str(args[0]).startswith("argument '")
    return cls in (OverflowError, UnicodeEncodeError)


# (function, parameter, value, exception class, message); a TypeError message always has the prefix.
CONVERSION_ERRORS = [
    ("normalize_json", "payload_json", b"{}", TypeError, "argument 'payload_json': 'bytes' object cannot be cast as 'str'"),
    ("normalize_json", "payload_json", None, TypeError, "argument 'payload_json': 'NoneType' object cannot be cast as 'str'"),
    ("deterministic_hash", "payload_json", 1, TypeError, "argument 'payload_json': 'int' object cannot be cast as 'str'"),
    ("normalize_and_hash", "payload_json", Outer.Inner(), TypeError,
     "argument 'payload_json': 'Outer.Inner' object cannot be cast as 'str'"),
    ("object_to_protobuf_struct_bytes", "payload_json", Nameless(), TypeError,
     "argument 'payload_json': '<failed to extract type name>' object cannot be cast as 'str'"),
    ("object_to_protobuf_struct_field_count", "payload_json", bytearray(b"1"), TypeError,
     "argument 'payload_json': 'bytearray' object cannot be cast as 'str'"),
    ("build_span_proto_bytes_pyobject", "status_message", 5, TypeError,
     "argument 'status_message': 'int' object cannot be cast as 'str'"),
    ("build_span_proto_bytes_pyobject", "environment", b"prod", TypeError,
     "argument 'environment': 'bytes' object cannot be cast as 'str'"),
    ("build_span_proto_bytes_pyobject", "package_type", "1", TypeError, INDEX),
    ("build_span_proto_bytes_pyobject", "kind", 1.0, TypeError, INDEX),
    ("build_span_proto_bytes_pyobject", "timestamp_seconds", None, TypeError, INDEX),
    ("build_span_proto_bytes_pyobject", "duration_nanos", Index("x"), TypeError, INDEX),
    ("build_span_proto_bytes_pyobject", "is_root_span", 1, TypeError,
     "argument 'is_root_span': 'int' object cannot be cast as 'bool'"),
    ("build_span_proto_bytes_pyobject", "is_pre_app_start", None, TypeError,
     "argument 'is_pre_app_start': 'NoneType' object cannot be cast as 'bool'"),
    ("build_span_proto_bytes_pyobject", "is_pre_app_start", "true", TypeError,
     "argument 'is_pre_app_start': 'str' object cannot be cast as 'bool'"),
    ("build_span_proto_bytes_pyobject", "is_root_span", numpy_like("bool_", module="fakenumpy", value=True), TypeError,
     "argument 'is_root_span': 'bool_' object cannot be cast as 'bool'"),
    ("build_span_proto_bytes_pyobject", "is_root_span", numpy_like("int8", value=True), TypeError,
     "argument 'is_root_span': 'int8' object cannot be cast as 'bool'"),
    ("build_span_proto_bytes_pyobject", "is_root_span", numpy_like("bool_"), TypeError,
     "argument 'is_root_span': object of type 'bool_' does not define a '__bool__' conversion"),
    ("build_span_proto_bytes_pyobject", "is_pre_app_start", numpy_like("bool"), TypeError,
     "argument 'is_pre_app_start': object of type 'bool' does not define a '__bool__' conversion"),
    ("build_export_spans_request_bytes_pyobject", "sdk_version", None, TypeError,
     "argument 'sdk_version': 'NoneType' object cannot be cast as 'str'"),
    ("process_export_payload", "schema_merges_json", b"{}", TypeError,
     "argument 'schema_merges_json': 'bytes' object cannot be cast as 'str'"),
    # Other classes pass unchanged: the module's own text for an int32 outside its range, the
    # interpreter's for one outside 64 bits and for a lone surrogate.
    ("build_span_proto_bytes_pyobject", "status_code", 2**40, OverflowError, INT32_OVERFLOW),
    ("build_span_proto_bytes_pyobject", "timestamp_nanos", 2**31, OverflowError, INT32_OVERFLOW),
    ("build_span_proto_bytes_pyobject", "package_type", -(2**31) - 1, OverflowError, INT32_OVERFLOW),
    ("build_span_proto_bytes_pyobject", "kind", Index(2**40), OverflowError, INT32_OVERFLOW),
    ("build_span_proto_bytes_pyobject", "kind", 2**63, OverflowError, INT64),
    ("build_span_proto_bytes_pyobject", "timestamp_seconds", 2**63, OverflowError, INT64),
    ("build_span_proto_bytes_pyobject", "duration_seconds", -(2**63) - 1, OverflowError, INT64),
    ("build_span_proto_bytes_pyobject", "duration_seconds", 2**100, OverflowError, INT64),
    ("build_span_proto_bytes_pyobject", "timestamp_seconds", Index(2**64), OverflowError, INT64),
    ("build_span_proto_bytes_pyobject", "kind", Index(SubTypeError("sub")), SubTypeError, "sub"),
    ("build_span_proto_bytes_pyobject", "kind", Index(ValueError("bad")), ValueError, "bad"),
    ("normalize_json", "payload_json", "[\"\ud800\"]", UnicodeEncodeError, UTF8),
    ("build_span_proto_bytes_pyobject", "name", "\udfff", UnicodeEncodeError, UTF8),
]  # fmt: skip


@pytest.mark.parametrize("name,param,value,cls,message", CONVERSION_ERRORS)
def test_conversion_errors(name, param, value, cls, message):
    if isinstance(message, Says):  # behind the module's prefix when it is a TypeError
        message = (f"argument '{param}': " if cls is TypeError else "") + says(message.call, value)
    base = {
        "normalize_json": {"payload_json": "{}"},
        "process_export_payload": {"payload_json": "{}"},
        "build_span_proto_bytes_pyobject": SPAN_BASE,
        "build_export_spans_request_bytes_pyobject": EXPORT_BASE,
    }.get(name, {})
    with pytest.raises(cls) as info:
        getattr(qc, name)(**{**base, param: value})
    assert type(info.value) is cls
    assert str(info.value) == message


def test_rewrapped_type_error_keeps_cause():
    root = ValueError("root")
    original = TypeError("boom")
    original.__cause__ = root
    with pytest.raises(TypeError) as info:
        qc.build_span_proto_bytes_pyobject(**{**SPAN_BASE, "status_code": Index(original)})
    assert str(info.value) == "argument 'status_code': boom"
    assert info.value is not original
    assert info.value.__cause__ is root
    with pytest.raises(TypeError) as plain:
        qc.normalize_json(b"")
    assert plain.value.__cause__ is None


def test_conversion_runs_in_parameter_order():
    # Keyword order does not matter; the first parameter in the list fails first.
    kwargs = {"status_code": "x", "is_root_span": 1, **SPAN_BASE, "span_id": b"", "submodule_name": None}
    assert span(**kwargs) == (TypeError, ("argument 'span_id': 'bytes' object cannot be cast as 'str'",))
    assert span(is_root_span=1, status_code="x") == (
        TypeError,
        ("argument 'status_code': " + says("index", "x"),),
    )
    with pytest.raises(TypeError, match="^argument 'payload_json'"):
        qc.process_export_payload(b"", b"")


# (parameter, value, an equivalent plain value): the call must behave exactly as with the plain value.
EQUIVALENT = [
    ("trace_id", Text("0af7651916cd43dd8448eb211c80319c"), "0af7651916cd43dd8448eb211c80319c"),
    ("environment", Text("prod"), "prod"),
    ("status_code", True, 1),
    ("kind", False, 0),
    ("package_type", Int(2), 2),
    ("timestamp_seconds", Index(1_700_000_000), 1_700_000_000),
    ("duration_nanos", Index(-5), -5),
    ("is_root_span", numpy_like("bool_", value=True), True),
    ("is_pre_app_start", numpy_like("bool", value=False), False),
]


@pytest.mark.parametrize("param,value,plain", EQUIVALENT)
def test_accepted_conversions(param, value, plain):
    expected = span(**{param: plain})
    assert span(**{param: value}) == expected
    assert not is_conversion_error(expected)


@pytest.mark.parametrize("param,value", [
    ("status_code", 2**31 - 1), ("status_code", -(2**31)), ("timestamp_seconds", 2**63 - 1),
    ("timestamp_seconds", -(2**63)), ("environment", None), ("environment", ""),
    ("input_schema", object()), ("output_schema", None), ("metadata", [1]), ("input_value_proto_struct_bytes", b"x"),
])  # fmt: skip
def test_accepted_values(param, value):
    assert not is_conversion_error(span(**{param: value}))


def test_object_parameters_are_not_converted():
    assert not is_conversion_error(
        outcome(qc.process_export_payload_pyobject, payload=object(), schema_merges=3)
    )
    assert not is_conversion_error(
        outcome(qc.process_export_payload, payload_json="{}", schema_merges_json=None)
    )
    assert not is_conversion_error(
        outcome(qc.build_export_spans_request_bytes_pyobject, **{**EXPORT_BASE, "spans": object()})
    )
