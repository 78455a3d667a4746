// Interpreter glue of the two span entries: reading the object arguments,
// running the pure builders of src/proto and writing their encodings
// straight into new bytes objects.
//
// Both expect the interpreter lock to be held. On success the Ref holds the
// new bytes object, or is null when the interpreter could not create it
// (out of memory; the frame turns that into PanicException).
#pragma once

#include <span>
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

// `args` holds the arguments the call frame converted (texts, codes, flags,
// times); its object arguments (the json, opt_json and opt_bytes kinds of
// proto/span_fields.h) are read here from `objects`, every argument's object
// in parameter order (borrowed), in that order: both schemas, metadata, input
// and output value (each converted to JSON unless None), then the two byte
// arguments ("expected bytes or None"). Then the builder runs: an
// enumeration code out of range is ValueError with its message alone, a
// Struct decode failure the Serialization error.
PyResult<Ref> build_span_proto_bytes(proto::SpanArguments& args, std::span<PyObject* const> objects);

}  // namespace quarn::pybridge
