// Facts about interpreter objects' types: the printed type name, and NumPy's
// boolean scalars.
//
// All functions expect the interpreter lock to be held.
#pragma once

#include <string>

#include "pybridge/python.h"

namespace quarn::pybridge {

// The qualified name of `obj`'s type, or "<failed to extract type name>".
std::string type_name(PyObject* obj);

// True for an instance of a NumPy boolean scalar type (module "numpy", name
// "bool_" or "bool"), recognised without importing NumPy. Each type is
// looked at once; the verdict is kept for as long as the type lives.
bool is_numpy_bool(PyObject* obj);
// Calls the type's `__bool__` on a NumPy boolean; -1 with an error set on
// failure (TypeError when the type has none or it returns a non-bool).
int numpy_bool_value(PyObject* obj);

}  // namespace quarn::pybridge
