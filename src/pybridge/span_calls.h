// Interpreter glue of the two span entries: reading the object arguments,
// running the pure builders of src/proto and writing their encodings
// straight into new bytes objects.
//
// Both expect the interpreter lock to be held. On success the Ref holds the
// new bytes object, or is null when the interpreter could not create it
// (out of memory; the frame turns that into PanicException).
#pragma once

#include <string_view>

#include "proto/span_builder.h"
#include "pybridge/pyfailure.h"
#include "pybridge/pyref.h"
#include "pybridge/python.h"

namespace quarn::pybridge {

// `spans` (borrowed) must be a list (or subclass) of bytes (or subclass):
// TypeError "spans must be a list of bytes" / "each span must be bytes",
// every element checked before any is decoded. A span that does not decode
// gives the Serialization error "failed to decode span proto bytes: ...".
PyResult<Ref> build_export_spans_request_bytes(std::string_view observable_service_id,
                                               std::string_view environment, std::string_view sdk_version,
                                               std::string_view sdk_instance_id, PyObject* spans);

// The object arguments of the span builder, borrowed from the frame's slots.
// `metadata`, the values and the byte arguments are null for None.
struct SpanObjects {
  PyObject* input_schema;
  PyObject* output_schema;
  PyObject* metadata;
  PyObject* input_value;
  PyObject* output_value;
  PyObject* input_value_proto_struct_bytes;
  PyObject* output_value_proto_struct_bytes;
};

// `args` holds the converted texts, codes, flags and times; its JSON and
// byte members are filled here from `objects`, in this order: both schemas,
// metadata, input and output value (each converted when not None), then the
// two byte arguments ("expected bytes or None"). Then the builder runs:
// an enumeration code out of range is ValueError with its message alone, a
// Struct decode failure the Serialization error.
PyResult<Ref> build_span_proto_bytes(proto::SpanArguments& args, const SpanObjects& objects);

}  // namespace quarn::pybridge
