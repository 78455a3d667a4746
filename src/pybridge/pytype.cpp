#include "pybridge/pytype.h"

#include "base/messages.h"
#include "pybridge/pyref.h"

namespace quarn::pybridge {

namespace {

// Interned attribute names, created once and kept for the process.
PyObject* interned(PyObject*& slot, const char* name) {
  if (slot == nullptr) slot = PyUnicode_InternFromString(name);
  return slot;
}
PyObject* g_qualname = nullptr;
PyObject* g_module = nullptr;
PyObject* g_name = nullptr;
PyObject* g_bool = nullptr;

}  // namespace

std::string type_name(PyObject* obj) {
  Ref name = Ref::steal(
      PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(obj)), interned(g_qualname, "__qualname__")));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return msg::kUnknownTypeName;
  }
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &len);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return msg::kUnknownTypeName;
  }
  return std::string(utf8, static_cast<std::size_t>(len));
}

bool is_numpy_bool(PyObject* obj) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  Ref module = Ref::steal(PyObject_GetAttr(type, interned(g_module, "__module__")));
  if (!module || !PyUnicode_Check(module.get())) {
    PyErr_Clear();
    return false;
  }
  if (PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) return false;
  Ref name = Ref::steal(PyObject_GetAttr(type, interned(g_name, "__name__")));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
         PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

int numpy_bool_value(PyObject* obj) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  Ref method = Ref::steal(PyObject_GetAttr(type, interned(g_bool, "__bool__")));
  if (!method) {
    PyErr_Clear();
    std::string name = type_name(obj);
    PyErr_Format(PyExc_TypeError, msg::kNoBoolConversion, name.c_str());
    return -1;
  }
  Ref value = Ref::steal(PyObject_CallFunctionObjArgs(method.get(), obj, nullptr));
  if (!value) return -1;
  if (value.get() == Py_True) return 1;
  if (value.get() == Py_False) return 0;
  std::string name = type_name(value.get());
  PyErr_Format(PyExc_TypeError, msg::kBoolNotBool, name.c_str());
  return -1;
}

}  // namespace quarn::pybridge
