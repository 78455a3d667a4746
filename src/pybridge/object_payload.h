// The export payload entry for payloads given as interpreter objects.
#pragma once

#include "pybridge/pyfailure.h"
#include "pybridge/pyref.h"
#include "pybridge/python.h"

namespace quarn::pybridge {

// Converts `payload` and then, unless it is nullptr (None), `schema_merges`
// to JSON values; the merges are printed as canonical JSON text and read by
// the payload core together with the payload. Returns the new 5-tuple
// (normalized payload object, value hash str, schema dict, schema hash str,
// Struct bytes).
//
// Failures, first one wins: a conversion failure as pyobject_to_json gives
// it; the core's error as a module error (ValueError with its prefix); an
// interpreter exception while building the objects as a Serialization error
// "<qualified type name>: <str(exc)>"; PanicException "Python API call
// failed" when the interpreter cannot create an object. Both arguments are
// borrowed; nothing is kept.
PyResult<Ref> process_export_payload_pyobject(PyObject* payload, PyObject* schema_merges);

}  // namespace quarn::pybridge
