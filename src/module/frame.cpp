#include "module/frame.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/messages.h"
#include "pybridge/pytype.h"

namespace quarn::frame {

namespace {

PyObject* g_panic_class = nullptr;

[[noreturn]] void die() noexcept {
  std::fputs(msg::kPanicFailed, stderr);
  std::fflush(stderr);
  std::abort();
}

// Re-raises a pending TypeError (exactly that class) as
// TypeError("argument '<name>': <message>") with the same cause.
bool conversion_failed(const Param& p) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  Ref owned_type = Ref::steal(type), owned_value = Ref::steal(value), owned_tb = Ref::steal(tb);
  if (type != PyExc_TypeError || value == nullptr) {
    PyErr_Restore(owned_type.release(), owned_value.release(), owned_tb.release());
    return false;
  }
  Ref text = Ref::steal(PyObject_Str(value));
  if (!text) return false;
  Ref message = Ref::steal(PyUnicode_FromFormat(msg::kArgumentPrefix, p.name.data(), text.get()));
  if (!message) return false;
  Ref replacement = Ref::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
  if (!replacement) return false;
  PyObject* cause = PyException_GetCause(value);                         // new reference or null
  if (cause != nullptr) PyException_SetCause(replacement.get(), cause);  // steals `cause`
  PyErr_SetObject(PyExc_TypeError, replacement.get());
  return false;
}

bool cast_failed(const Param& p, PyObject* obj, const char* target) {
  std::string name = pybridge::type_name(obj);
  PyErr_Format(PyExc_TypeError, msg::kCannotCast, name.c_str(), target);
  return conversion_failed(p);
}

PyObject* panic_class() {
  if (g_panic_class == nullptr) {
    g_panic_class = PyErr_NewExceptionWithDoc(msg::kPanicClass, msg::kPanicDoc, PyExc_BaseException, nullptr);
  }
  return g_panic_class;
}

}  // namespace

bool bind(const Signature& sig, PyObject* args, PyObject* kwargs, Ref* slots) {
  const std::size_t n = sig.params.size();
  const Py_ssize_t given = args != nullptr ? PyTuple_Size(args) : 0;
  if (given < 0) return false;
  if (static_cast<std::size_t>(given) > n) {
    PyErr_Format(PyExc_TypeError, msg::kTooManyPositional, sig.function, n, given,
                 given == 1 ? "was" : "were");
    return false;
  }
  for (Py_ssize_t i = 0; i < given; ++i) slots[i] = Ref::borrow(PyTuple_GetItem(args, i));

  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    std::size_t expected = static_cast<std::size_t>(given);  // keywords usually follow parameter order
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      std::size_t index = n;
      Py_ssize_t len = 0;
      const char* name = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &len) : nullptr;
      if (name == nullptr) {
        PyErr_Clear();
      } else {
        std::string_view k(name, static_cast<std::size_t>(len));
        if (expected < n && k == sig.params[expected].name) {
          index = expected;
        } else {
          for (std::size_t i = 0; i < n; ++i) {
            if (k == sig.params[i].name) {
              index = i;
              break;
            }
          }
        }
        expected = index + 1;
      }
      if (index == n) {
        PyErr_Format(PyExc_TypeError, msg::kUnexpectedKeyword, sig.function, key);
        return false;
      }
      if (slots[index]) {
        PyErr_Format(PyExc_TypeError, msg::kMultipleValues, sig.function, sig.params[index].name.data());
        return false;
      }
      slots[index] = Ref::borrow(value);
    }
  }

  std::size_t missing = 0;
  for (std::size_t i = 0; i < n; ++i)
    if (!slots[i]) ++missing;
  if (missing == 0) return true;
  std::string list;
  std::size_t seen = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (slots[i]) continue;
    if (seen > 0) {
      if (missing == 2) list += " and ";
      else if (seen + 1 == missing) list += ", and ";
      else list += ", ";
    }
    list += '\'';
    list += sig.params[i].name;
    list += '\'';
    ++seen;
  }
  PyErr_Format(PyExc_TypeError, msg::kMissingArguments, sig.function, missing, missing == 1 ? "" : "s",
               list.c_str());
  return false;
}

bool to_text(const Param& p, PyObject* obj, std::string_view& out) {
  if (!PyUnicode_Check(obj)) return cast_failed(p, obj, "str");
  Py_ssize_t len = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &len);
  if (utf8 == nullptr) return conversion_failed(p);
  out = std::string_view(utf8, static_cast<std::size_t>(len));
  return true;
}

bool to_opt_text(const Param& p, PyObject* obj, std::optional<std::string_view>& out) {
  if (obj == Py_None) {
    out.reset();
    return true;
  }
  std::string_view s;
  if (!to_text(p, obj, s)) return false;
  out = s;
  return true;
}

bool to_int64(const Param& p, PyObject* obj, std::int64_t& out) {
  Ref index;
  PyObject* number = obj;
  if (!PyLong_Check(obj)) {
    index = Ref::steal(PyNumber_Index(obj));
    if (!index) return conversion_failed(p);
    number = index.get();
  }
  long long v = PyLong_AsLongLong(number);
  if (v == -1 && PyErr_Occurred()) return conversion_failed(p);
  out = v;
  return true;
}

bool to_int32(const Param& p, PyObject* obj, std::int32_t& out) {
  std::int64_t v;
  if (!to_int64(p, obj, v)) return false;
  if (v < INT32_MIN || v > INT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, msg::kInt32Overflow);
    return false;
  }
  out = static_cast<std::int32_t>(v);
  return true;
}

bool to_bool(const Param& p, PyObject* obj, bool& out) {
  if (obj == Py_True) {
    out = true;
    return true;
  }
  if (obj == Py_False) {
    out = false;
    return true;
  }
  if (!pybridge::is_numpy_bool(obj)) return cast_failed(p, obj, "bool");
  int v = pybridge::numpy_bool_value(obj);
  if (v < 0) return conversion_failed(p);
  out = v == 1;
  return true;
}

PyObject* raise(const ModuleError& e) {
  std::string text = to_string(e);
  Ref s = Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (!s) return nullptr;
  PyErr_SetObject(PyExc_ValueError, s.get());
  return nullptr;
}

PyObject* raise(const PyFailure& f, const char* function) {
  PyObject* cls = nullptr;
  switch (f.kind) {
    case PyFailure::Kind::Pending:
      if (PyErr_Occurred() == nullptr) return panic(function, msg::kPanicWithoutError);
      return nullptr;
    case PyFailure::Kind::Module: return raise(ModuleError{f.module_kind, f.message});
    case PyFailure::Kind::Panic: return panic(function, f.message);
    case PyFailure::Kind::TypeError: cls = PyExc_TypeError; break;
    case PyFailure::Kind::ValueError: cls = PyExc_ValueError; break;
    case PyFailure::Kind::RecursionError: cls = PyExc_RecursionError; break;
  }
  Ref s =
      Ref::steal(PyUnicode_FromStringAndSize(f.message.data(), static_cast<Py_ssize_t>(f.message.size())));
  if (!s) return nullptr;
  PyErr_SetObject(cls, s.get());
  return nullptr;
}

PyObject* panic(const char* function, std::string_view message) noexcept {
  try {
    std::fprintf(stderr, msg::kPanicReport, function, static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    PyObject* cls = panic_class();
    if (cls == nullptr) die();
    Ref text =
        Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) die();
    PyErr_SetObject(cls, text.get());
  } catch (...) {
    die();
  }
  return nullptr;
}

PyObject* result(PyObject* obj, const char* function) noexcept {
  if (obj != nullptr) return obj;
  PyErr_Clear();
  return panic(function, msg::kApiFailed);
}

}  // namespace quarn::frame
