"""The same work done in plain Python, the best a user could do with well-known libraries.

Each peer takes the same arguments as the quarn_core function it stands against and does
the same steps: parse, sort keys, print, hash, decode members, derive the schema, build
protocol-buffer messages. Where a library call has a faster equivalent that gives the same
result, the faster one is used (`Struct.update` rather than `json_format.ParseDict`,
which does the same conversion about 2.4 times slower on a 1 MB payload).
"""

import base64
import binascii
import hashlib
import json
import math

import orjson
from google.protobuf import struct_pb2

from tests.support.messages import ExportSpansRequest, Span

SORT = orjson.OPT_SORT_KEYS
sha256 = hashlib.sha256


# Canonical text and hash.


def stdlib_normalize(text):
    return json.dumps(json.loads(text), sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def stdlib_normalize_and_hash(text):
    out = stdlib_normalize(text)
    return out, sha256(out.encode()).hexdigest()


def orjson_normalize(text):
    return orjson.dumps(orjson.loads(text), option=SORT)


def orjson_normalize_and_hash(text):
    out = orjson_normalize(text)
    return out, sha256(out).hexdigest()


# Export payload processing.


def _base64_text(value):
    """The Base64 text decoded and read as UTF-8 (bad sequences replaced), or the text itself
    when it is not strict Base64."""
    try:
        raw = base64.b64decode(value, validate=True)
    except (binascii.Error, ValueError):
        return value
    return raw.decode("utf-8", "replace")


def _rule_fields(rule):
    """(encoding, decoded_type, match_importance) of a rule in object or array form."""
    if type(rule) is dict:
        return rule.get("encoding"), rule.get("decoded_type"), rule.get("match_importance")
    rule = list(rule) + [None] * (3 - len(rule))
    return rule[0], rule[1], rule[2]


def decode_members(value, rules):
    """The payload with the members that `rules` mark as Base64 and/or JSON text decoded."""
    if not rules or type(value) is not dict:
        return value
    merged = dict(value)
    for name in sorted(rules):  # code point order, which is the order of the UTF-8 bytes
        if name not in merged:
            continue
        encoding, decoded_type, _ = _rule_fields(rules[name])
        member = merged[name]
        if encoding == 1 and type(member) is str:
            member = _base64_text(member)
        if decoded_type == 1 and type(member) is str:
            try:
                member = orjson.loads(member)
            except orjson.JSONDecodeError:
                pass
        merged[name] = member
    return merged


_TYPE_CODES = {int: 1, float: 1, str: 2, bool: 3, type(None): 4}


def schema_of(value):
    """The schema of a JSON-shaped value: type code, properties, items of the first element."""
    t = type(value)
    if t is dict:
        return {"properties": {k: schema_of(v) for k, v in value.items()}, "type": 6}
    if t is list:
        if value:
            return {"items": schema_of(value[0]), "properties": {}, "type": 7}
        return {"properties": {}, "type": 7}
    return {"properties": {}, "type": _TYPE_CODES[t]}


def derive_schema(value, rules):
    """`schema_of(value)` with the rules' annotations on its top-level properties."""
    schema = schema_of(value)
    if rules and type(value) is dict:
        properties = schema["properties"]
        for name, rule in rules.items():
            child = properties.get(name)
            if child is None:
                continue
            encoding, decoded_type, importance = _rule_fields(rule)
            if encoding is not None:
                child["encoding"] = encoding
            if decoded_type is not None:
                child["decoded_type"] = decoded_type
            if importance is not None and math.isfinite(importance):
                child["match_importance"] = float(importance)
    return schema


def struct_bytes(value):
    """The value as google.protobuf.Struct bytes (empty for anything but an object)."""
    if type(value) is not dict:
        return b""
    message = struct_pb2.Struct()
    message.update(value)
    return message.SerializeToString(deterministic=True)


def process_payload_object(payload, rules):
    """Peer of process_export_payload_pyobject: (normalized, value hash, schema, schema hash,
    Struct bytes), the normalized payload and the schema as objects."""
    text = orjson.dumps(payload, option=SORT)
    normalized = orjson.loads(text)
    merged = decode_members(normalized, rules)
    merged_text = text if merged is normalized else orjson.dumps(merged, option=SORT)
    schema = derive_schema(merged, rules)
    return (
        normalized,
        sha256(merged_text).hexdigest(),
        schema,
        sha256(orjson.dumps(schema, option=SORT)).hexdigest(),
        struct_bytes(normalized),
    )


def process_payload_text(payload_json, rules_json):
    """Peer of process_export_payload: (normalized, merged, value hash, schema, schema hash,
    Struct bytes), the three JSON texts as UTF-8 bytes."""
    value = orjson.loads(payload_json)
    normalized_text = orjson.dumps(value, option=SORT)
    rules = None if rules_json is None else orjson.loads(rules_json)
    merged = decode_members(value, rules)
    merged_text = normalized_text if merged is value else orjson.dumps(merged, option=SORT)
    schema_text = orjson.dumps(derive_schema(merged, rules), option=SORT)
    return (
        normalized_text,
        merged_text,
        sha256(merged_text).hexdigest(),
        schema_text,
        sha256(schema_text).hexdigest(),
        struct_bytes(value),
    )


def payload_floor_object(payload, rules):
    """No decoding, no schema, no Struct: one sorted print, one parse, one hash."""
    text = orjson.dumps(payload, option=SORT)
    return orjson.loads(text), sha256(text).hexdigest()


def payload_floor_text(payload_json, rules_json):
    text = orjson.dumps(orjson.loads(payload_json), option=SORT)
    return text, sha256(text).hexdigest()


# Span building and export.


def _fill_schema(message, schema):
    """A schema in its JSON form (type, properties, items, encoding, decoded_type,
    match_importance) written into a JsonSchema message."""
    message.SetInParent()
    if type(schema) is not dict:
        return
    code = schema.get("type")
    if type(code) is int:
        message.type = code
    properties = schema.get("properties")
    if type(properties) is dict:
        target = message.properties
        for name, child in properties.items():
            _fill_schema(target[name], child)
    if "items" in schema:
        _fill_schema(message.items, schema["items"])
    encoding = schema.get("encoding")
    if type(encoding) is int:
        message.encoding = encoding
    decoded_type = schema.get("decoded_type")
    if type(decoded_type) is int:
        message.decoded_type = decoded_type
    importance = schema.get("match_importance")
    if type(importance) in (int, float):
        message.match_importance = importance


def _fill_value(message, value, struct_data):
    message.SetInParent()
    if struct_data is not None:
        message.MergeFromString(struct_data)
    elif type(value) is dict:
        message.update(value)


def build_span(
    trace_id,
    span_id,
    parent_span_id,
    name,
    package_name,
    instrumentation_name,
    submodule_name,
    package_type,
    environment,
    kind,
    input_schema,
    output_schema,
    input_schema_hash,
    output_schema_hash,
    input_value_hash,
    output_value_hash,
    status_code,
    status_message,
    is_pre_app_start,
    is_root_span,
    timestamp_seconds,
    timestamp_nanos,
    duration_seconds,
    duration_nanos,
    metadata,
    input_value,
    output_value,
    input_value_proto_struct_bytes,
    output_value_proto_struct_bytes,
):
    """Peer of build_span_proto_bytes_pyobject: the same 29 arguments, the encoded Span."""
    if not 0 <= package_type <= 11:
        raise ValueError(f"invalid package_type enum: {package_type}")
    if not 0 <= kind <= 5:
        raise ValueError(f"invalid kind enum: {kind}")
    if not 0 <= status_code <= 2:
        raise ValueError(f"invalid status_code enum: {status_code}")
    span = Span(
        trace_id=trace_id,
        span_id=span_id,
        parent_span_id=parent_span_id,
        name=name,
        package_name=package_name,
        instrumentation_name=instrumentation_name,
        submodule_name=submodule_name,
        package_type=package_type,
        kind=kind,
        input_schema_hash=input_schema_hash,
        output_schema_hash=output_schema_hash,
        input_value_hash=input_value_hash,
        output_value_hash=output_value_hash,
        is_pre_app_start=is_pre_app_start,
        is_root_span=is_root_span,
    )
    if environment is not None:
        span.environment = environment
    _fill_value(span.input_value, input_value, input_value_proto_struct_bytes)
    _fill_value(span.output_value, output_value, output_value_proto_struct_bytes)
    _fill_value(span.metadata, metadata, None)
    _fill_schema(span.input_schema, input_schema)
    _fill_schema(span.output_schema, output_schema)
    span.status.SetInParent()
    span.status.code = status_code
    span.status.message = status_message
    span.timestamp.SetInParent()
    span.timestamp.seconds = timestamp_seconds
    span.timestamp.nanos = timestamp_nanos
    span.duration.SetInParent()
    span.duration.seconds = duration_seconds
    span.duration.nanos = duration_nanos
    return span.SerializeToString()


def export_request(observable_service_id, environment, sdk_version, sdk_instance_id, spans):
    """Peer of build_export_spans_request_bytes_pyobject: every span parsed into the request's
    message class, the request serialized. (Fields unknown to Span would be kept and written
    again, where the module drops them; the benchmark's spans have none.)"""
    request = ExportSpansRequest(
        observable_service_id=observable_service_id,
        environment=environment,
        sdk_version=sdk_version,
        sdk_instance_id=sdk_instance_id,
    )
    add = request.spans.add
    for data in spans:
        add().MergeFromString(data)
    return request.SerializeToString()
