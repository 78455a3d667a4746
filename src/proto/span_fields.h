// The fields of a Span and the arguments of the span builder, each described
// once. The Span record, its encoder and decoder, the decoder's error paths,
// the check of bytes already in written form, the builder's argument record
// and the parameter list of build_span_proto_bytes_pyobject are all made from
// these two tables.
#pragma once

// The Span message: X(number, name, kind), in field-number order, which is
// also the order of the fields on the wire. The kinds (proto/span.h):
//   string      a string, written only when not empty
//   code        a signed 32-bit enumeration value, written only when not 0
//   flag        a bool, written only when true
//   value       a google.protobuf.Struct, written whenever present
//   schema      a JsonSchema, written whenever present
//   status      a SpanStatus, written whenever present
//   timestamp   a google.protobuf.Timestamp, written whenever present
//   duration    a google.protobuf.Duration, written whenever present
//   opt_string  an optional string, written whenever present (also empty)
#define QUARN_SPAN_FIELDS(X)         \
  X(1, trace_id, string)             \
  X(2, span_id, string)              \
  X(3, parent_span_id, string)       \
  X(4, name, string)                 \
  X(5, package_name, string)         \
  X(6, instrumentation_name, string) \
  X(7, submodule_name, string)       \
  X(8, package_type, code)           \
  X(9, input_value, value)           \
  X(10, output_value, value)         \
  X(11, input_schema, schema)        \
  X(12, output_schema, schema)       \
  X(13, input_schema_hash, string)   \
  X(14, output_schema_hash, string)  \
  X(15, input_value_hash, string)    \
  X(16, output_value_hash, string)   \
  X(17, kind, code)                  \
  X(18, status, status)              \
  X(19, is_pre_app_start, flag)      \
  X(20, timestamp, timestamp)        \
  X(21, duration, duration)          \
  X(22, is_root_span, flag)          \
  X(23, metadata, value)             \
  X(24, environment, opt_string)     \
  X(25, id, opt_string)

// The span builder's arguments: X(name, kind, use), in parameter order (the
// position of each is its place here). The kinds (proto/span_builder.h):
//   text, opt_text, int32, int64, flag   converted by the call frame
//   json, opt_json                       an object converted to a JSON value
//   opt_bytes                            finished Struct bytes, or None
// `use` says how the Span gets it: `copy` into the Span field of the same
// name; `built` by build_span from one or more arguments.
#define QUARN_SPAN_ARGUMENTS(X)                       \
  X(trace_id, text, copy)                             \
  X(span_id, text, copy)                              \
  X(parent_span_id, text, copy)                       \
  X(name, text, copy)                                 \
  X(package_name, text, copy)                         \
  X(instrumentation_name, text, copy)                 \
  X(submodule_name, text, copy)                       \
  X(package_type, int32, copy)                        \
  X(environment, opt_text, copy)                      \
  X(kind, int32, copy)                                \
  X(input_schema, json, built)                        \
  X(output_schema, json, built)                       \
  X(input_schema_hash, text, copy)                    \
  X(output_schema_hash, text, copy)                   \
  X(input_value_hash, text, copy)                     \
  X(output_value_hash, text, copy)                    \
  X(status_code, int32, built)                        \
  X(status_message, text, built)                      \
  X(is_pre_app_start, flag, copy)                     \
  X(is_root_span, flag, copy)                         \
  X(timestamp_seconds, int64, built)                  \
  X(timestamp_nanos, int32, built)                    \
  X(duration_seconds, int64, built)                   \
  X(duration_nanos, int32, built)                     \
  X(metadata, opt_json, built)                        \
  X(input_value, opt_json, built)                     \
  X(output_value, opt_json, built)                    \
  X(input_value_proto_struct_bytes, opt_bytes, built) \
  X(output_value_proto_struct_bytes, opt_bytes, built)
