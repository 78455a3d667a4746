"""The span messages described to the protobuf package, for the Python peers.

The descriptor is built here in Python, so no generated code or compiler is
needed. Enumerations are declared as int32, which has the same wire form.
"""

from google.protobuf import descriptor_pb2, descriptor_pool, duration_pb2, struct_pb2, timestamp_pb2

try:
    from google.protobuf.message_factory import GetMessageClass as _message_class
except ImportError:  # package versions before GetMessageClass
    from google.protobuf import message_factory

    def _message_class(desc):
        return message_factory.MessageFactory().GetPrototype(desc)

F = descriptor_pb2.FieldDescriptorProto
STRING, INT32, BOOL, DOUBLE, MESSAGE = F.TYPE_STRING, F.TYPE_INT32, F.TYPE_BOOL, F.TYPE_DOUBLE, F.TYPE_MESSAGE

SPAN_FIELDS = [
    ("trace_id", 1, STRING, None), ("span_id", 2, STRING, None), ("parent_span_id", 3, STRING, None),
    ("name", 4, STRING, None), ("package_name", 5, STRING, None), ("instrumentation_name", 6, STRING, None),
    ("submodule_name", 7, STRING, None), ("package_type", 8, INT32, None),
    ("input_value", 9, MESSAGE, ".google.protobuf.Struct"), ("output_value", 10, MESSAGE, ".google.protobuf.Struct"),
    ("input_schema", 11, MESSAGE, ".qbench.JsonSchema"), ("output_schema", 12, MESSAGE, ".qbench.JsonSchema"),
    ("input_schema_hash", 13, STRING, None), ("output_schema_hash", 14, STRING, None),
    ("input_value_hash", 15, STRING, None), ("output_value_hash", 16, STRING, None), ("kind", 17, INT32, None),
    ("status", 18, MESSAGE, ".qbench.SpanStatus"), ("is_pre_app_start", 19, BOOL, None),
    ("timestamp", 20, MESSAGE, ".google.protobuf.Timestamp"), ("duration", 21, MESSAGE, ".google.protobuf.Duration"),
    ("is_root_span", 22, BOOL, None), ("metadata", 23, MESSAGE, ".google.protobuf.Struct"),
]


def _field(msg, name, number, ftype, type_name=None, optional_index=None, repeated=False):
    f = msg.field.add(name=name, number=number, type=ftype,
                      label=F.LABEL_REPEATED if repeated else F.LABEL_OPTIONAL)
    if type_name:
        f.type_name = type_name
    if optional_index is not None:
        f.proto3_optional = True
        f.oneof_index = optional_index


def _optional(msg, name, number, ftype):
    msg.oneof_decl.add(name="_" + name)
    _field(msg, name, number, ftype, optional_index=len(msg.oneof_decl) - 1)


def _build():
    fd = descriptor_pb2.FileDescriptorProto(
        name="qbench/span_messages.proto", package="qbench", syntax="proto3",
        dependency=["google/protobuf/struct.proto", "google/protobuf/timestamp.proto",
                    "google/protobuf/duration.proto"])
    schema = fd.message_type.add(name="JsonSchema")
    _field(schema, "type", 1, INT32)
    _field(schema, "properties", 2, MESSAGE, ".qbench.JsonSchema.PropertiesEntry", repeated=True)
    _field(schema, "items", 3, MESSAGE, ".qbench.JsonSchema")
    _optional(schema, "encoding", 4, INT32)
    _optional(schema, "decoded_type", 5, INT32)
    _optional(schema, "match_importance", 6, DOUBLE)
    entry = schema.nested_type.add(name="PropertiesEntry")
    entry.options.map_entry = True
    _field(entry, "key", 1, STRING)
    _field(entry, "value", 2, MESSAGE, ".qbench.JsonSchema")

    status = fd.message_type.add(name="SpanStatus")
    _field(status, "code", 1, INT32)
    _field(status, "message", 2, STRING)

    span = fd.message_type.add(name="Span")
    for name, number, ftype, type_name in SPAN_FIELDS:
        _field(span, name, number, ftype, type_name)
    _optional(span, "environment", 24, STRING)
    _optional(span, "id", 25, STRING)

    req = fd.message_type.add(name="ExportSpansRequest")
    for i, name in enumerate(["observable_service_id", "environment", "sdk_version", "sdk_instance_id"], 1):
        _field(req, name, i, STRING)
    _field(req, "spans", 5, MESSAGE, ".qbench.Span", repeated=True)

    pool = descriptor_pool.DescriptorPool()
    for dep in (struct_pb2, timestamp_pb2, duration_pb2):
        pool.AddSerializedFile(dep.DESCRIPTOR.serialized_pb)
    pool.Add(fd)
    return {n: _message_class(pool.FindMessageTypeByName("qbench." + n))
            for n in ("JsonSchema", "SpanStatus", "Span", "ExportSpansRequest")}


_classes = _build()
JsonSchema = _classes["JsonSchema"]
SpanStatus = _classes["SpanStatus"]
Span = _classes["Span"]
ExportSpansRequest = _classes["ExportSpansRequest"]
