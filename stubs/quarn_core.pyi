"""Type information for quarn_core, the native core of the tracing SDK.

Every parameter is positional-or-keyword and required: arguments that accept
None still have to be given. JSON text arguments are parsed strictly; their
failures raise ValueError("invalid json: ..."). Hashes are the 64-character
lower-case hexadecimal SHA-256 of a value's canonical JSON text.
"""

from typing import Any, SupportsFloat, SupportsIndex, TypeAlias

__all__ = [  # noqa: RUF022 (registration order, as the module lists them)
    "normalize_json",
    "deterministic_hash",
    "normalize_and_hash",
    "object_to_protobuf_struct_bytes",
    "object_to_protobuf_struct_field_count",
    "process_export_payload",
    "process_export_payload_pyobject",
    "build_span_proto_bytes_pyobject",
    "build_export_spans_request_bytes_pyobject",
]

# A value the module turns into JSON: None, bool, int, float, str, a list or
# tuple, a dict with str keys, or an object that offers __index__ or __float__
# (NumPy scalars, Decimal, Fraction). Containers are typed by their outer
# shape only, because list and dict are invariant: a dict[str, int] has to be
# accepted where any JSON value may stand. Anything else raises TypeError.
_JsonInput: TypeAlias = (
    bool
    | int
    | float
    | str
    | SupportsIndex
    | SupportsFloat
    | list[Any]
    | tuple[Any, ...]
    | dict[str, Any]
    | None
)

# A JSON value as the module hands it back: objects are new dicts whose keys
# iterate in ascending code point order, arrays are new lists.
_JsonValue: TypeAlias = bool | int | float | str | list[_JsonValue] | dict[str, _JsonValue] | None

def normalize_json(payload_json: str) -> str:
    """The canonical JSON text of the document: no whitespace, members sorted
    by name, numbers and strings in their one printed form."""

def deterministic_hash(payload_json: str) -> str:
    """The SHA-256 (hex) of the document's canonical JSON text."""

def normalize_and_hash(payload_json: str) -> tuple[str, str]:
    """(canonical JSON text, its SHA-256 hex) of the document."""

def object_to_protobuf_struct_bytes(payload_json: str) -> bytes:
    """The encoded google.protobuf.Struct of the document's top-level object
    (empty bytes when the document is not an object)."""

def object_to_protobuf_struct_field_count(payload_json: str) -> int:
    """The number of top-level members of the document (0 for non-objects)."""

def process_export_payload(
    payload_json: str, schema_merges_json: str | None
) -> tuple[str, str, str, str, str, bytes]:
    """Processes an export payload given as JSON text.

    `schema_merges_json` maps top-level member names to merge rules (None for
    none). Returns (normalized payload text, merged payload text, value hash,
    schema text, schema hash, Struct bytes of the normalized payload)."""

def process_export_payload_pyobject(
    payload: _JsonInput, schema_merges: dict[str, Any] | None
) -> tuple[_JsonValue, str, dict[str, _JsonValue], str, bytes]:
    """Processes an export payload given as Python objects.

    `schema_merges` maps top-level member names to merge rules, each a dict
    with `encoding`, `decoded_type` and `match_importance` or a list or tuple
    of up to three of them in that order (None for none). Returns
    (normalized payload, value hash, schema, schema hash, Struct bytes)."""

def build_span_proto_bytes_pyobject(
    trace_id: str,
    span_id: str,
    parent_span_id: str,
    name: str,
    package_name: str,
    instrumentation_name: str,
    submodule_name: str,
    package_type: SupportsIndex,
    environment: str | None,
    kind: SupportsIndex,
    input_schema: _JsonInput,
    output_schema: _JsonInput,
    input_schema_hash: str,
    output_schema_hash: str,
    input_value_hash: str,
    output_value_hash: str,
    status_code: SupportsIndex,
    status_message: str,
    is_pre_app_start: bool,
    is_root_span: bool,
    timestamp_seconds: SupportsIndex,
    timestamp_nanos: SupportsIndex,
    duration_seconds: SupportsIndex,
    duration_nanos: SupportsIndex,
    metadata: _JsonInput,
    input_value: _JsonInput,
    output_value: _JsonInput,
    input_value_proto_struct_bytes: bytes | None,
    output_value_proto_struct_bytes: bytes | None,
) -> bytes:
    """The encoded Span of one finished call.

    `package_type` is 0 to 11, `kind` 0 to 5, `status_code` 0 to 2 (other
    values raise ValueError); the seconds are signed 64-bit, the other
    integers signed 32-bit. Schemas are dicts in the form that the payload
    functions return. A value's Struct bytes, when given, win over the value
    object."""

def build_export_spans_request_bytes_pyobject(
    observable_service_id: str,
    environment: str,
    sdk_version: str,
    sdk_instance_id: str,
    spans: list[bytes],
) -> bytes:
    """The encoded ExportSpansRequest carrying the given encoded Spans."""
