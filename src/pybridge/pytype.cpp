#include "pybridge/pytype.h"

#include <utility>
#include <vector>

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

// The attribute `name` of `type` when it is a str; otherwise null, with any
// error of the look-up cleared.
Ref str_attribute(PyObject* type, PyObject*& slot, const char* name) {
  Ref value = Ref::steal(PyObject_GetAttr(type, interned(slot, name)));
  if (!value || !PyUnicode_Check(value.get())) {
    PyErr_Clear();
    return Ref();
  }
  return value;
}

// Whether `type` is a NumPy boolean scalar type, by its module and name.
// `known` is false when a look-up failed and the answer is only a guess.
bool classify(PyObject* type, bool& known) {
  known = false;
  const Ref module = str_attribute(type, g_module, "__module__");
  if (!module) return false;
  known = true;
  if (PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) return false;
  known = false;
  const Ref name = str_attribute(type, g_name, "__name__");
  if (!name) return false;
  known = true;
  return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
         PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

// The types already classified, so that each is looked at once. An entry
// holds a weak reference to its type (no strong one: the type may go), whose
// callback marks the entry dead when the type goes; a later type at the same
// address is then classified afresh. Dead entries are dropped when the next
// type is added. Few types ever get here (NumPy's bool type, subclasses of
// the built-in types, protocol objects), and at most kMaxKnownTypes are kept.
struct KnownType {
  PyObject* type;  // null once the type is gone
  Ref weakref;
  bool numpy_bool;
};
constexpr std::size_t kMaxKnownTypes = 64;

// Made once and kept for the process: the weak references must not be
// released after the interpreter is gone.
std::vector<KnownType>& known_types() {
  static auto* known = new std::vector<KnownType>();
  return *known;
}

PyObject* forget_type(PyObject*, PyObject* weakref) {
  for (KnownType& k : known_types())
    if (k.weakref.get() == weakref) k.type = nullptr;
  Py_RETURN_NONE;
}
PyMethodDef g_forget_type = {"forget_type", forget_type, METH_O, nullptr};
PyObject* g_forget_callback = nullptr;

void remember(PyObject* type, bool numpy_bool) {
  std::vector<KnownType>& known = known_types();
  std::erase_if(known, [](const KnownType& k) { return k.type == nullptr; });
  if (known.size() >= kMaxKnownTypes) return;
  if (g_forget_callback == nullptr) g_forget_callback = PyCFunction_NewEx(&g_forget_type, nullptr, nullptr);
  Ref weakref =
      Ref::steal(g_forget_callback != nullptr ? PyWeakref_NewRef(type, g_forget_callback) : nullptr);
  if (!weakref) {
    PyErr_Clear();  // not remembered: classified again next time
    return;
  }
  known.push_back(KnownType{type, std::move(weakref), numpy_bool});
}

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
  for (const KnownType& k : known_types())
    if (k.type == type) return k.numpy_bool;
  bool known = false;
  const bool numpy_bool = classify(type, known);
  if (known) remember(type, numpy_bool);
  return numpy_bool;
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
