#include "pybridge/convert.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "module/frame.h"

namespace quarn::pybridge {

namespace {

using json::JsonMember;
using json::JsonValue;

constexpr const char* kUnsupported = "unsupported value type for Rust export payload processing";
constexpr const char* kTooDeep = "maximum nesting depth of 512 exceeded while converting a Python object";
constexpr const char* kApiFailed = "Python API call failed";
static_assert(kMaxNestingDepth == 512, "kTooDeep names the bound");

JsonValue from_double(double d) noexcept { return std::isfinite(d) ? JsonValue::dbl(d) : JsonValue::null(); }

bool has_slot(PyTypeObject* type, int slot) { return PyType_GetSlot(type, slot) != nullptr; }

// ---- interpreter object -> JSON value ----------------------------------------
//
// Every `convert` call gets an object that someone keeps alive for its
// duration: the caller for the root, a held reference for list elements and
// dict values (a conversion hook further down may drop them from their
// container), the tuple itself for tuple elements (tuples never change).
class ToJson {
 public:
  ToJson(json::Arena& arena, std::vector<Ref>* keep) : arena_(arena), keep_(keep) {}

  // `depth` counts the containers around `obj`.
  bool convert(PyObject* obj, int depth, JsonValue& out) {
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyUnicode_Type) return string(obj, out);
    if (type == &PyLong_Type) {
      int overflow = 0;
      long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
      if (overflow == 0) [[likely]] {
        out = JsonValue::integer(v);
        return true;
      }
      return big_int(obj, out);
    }
    if (type == &PyDict_Type) return dict(obj, depth, out);
    if (type == &PyList_Type) return list(obj, depth, out);
    if (type == &PyFloat_Type) {
      out = from_double(PyFloat_AsDouble(obj));
      return true;
    }
    if (type == &PyTuple_Type) return tuple(obj, depth, out);
    if (obj == Py_None) {
      out = JsonValue::null();
      return true;
    }
    if (obj == Py_True || obj == Py_False) {
      out = JsonValue::boolean(obj == Py_True);
      return true;
    }
    return other(obj, depth, out);
  }

  PyFailure take_failure() { return std::move(failure_); }

 private:
  // Out of line, so that no failure text takes room in the recursing frames.
  [[gnu::cold, gnu::noinline]] bool fail(PyFailure::Kind kind, const char* message) {
    failure_ = PyFailure{kind, message};
    return false;
  }

  [[gnu::cold, gnu::noinline]] bool bad_key(PyObject* key) {
    Ref held = Ref::borrow(key);  // reading the type name may run code
    failure_ = PyFailure::type_error("'" + frame::type_name(held.get()) + "' object cannot be cast as 'str'");
    return false;
  }

  // A str (or subclass): its UTF-8 bytes, as `text` keeps them.
  bool string(PyObject* obj, JsonValue& out) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &len);
    if (utf8 == nullptr) [[unlikely]] {
      // A lone surrogate: no test but the string test takes a str.
      PyErr_Clear();
      return fail(PyFailure::Kind::TypeError, kUnsupported);
    }
    out = JsonValue::string_ref(text(obj, std::string_view(utf8, static_cast<std::size_t>(len))));
    return true;
  }

  // The bytes of `s`, the UTF-8 form of the str `owner`, for the value: held
  // in place when long enough and allowed, else copied into the arena.
  std::string_view text(PyObject* owner, std::string_view s) {
    if (keep_ != nullptr && s.size() >= kBorrowMinBytes) {
      keep_->push_back(Ref::borrow(owner));
      return s;
    }
    return std::string_view(arena_.copy_bytes(s), s.size());
  }

  // An int outside the signed 64-bit range: the nearest double, if there is one.
  [[gnu::cold]] bool big_int(PyObject* obj, JsonValue& out) {
    double d = PyLong_AsDouble(obj);
    if (d == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      return fail(PyFailure::Kind::TypeError, kUnsupported);
    }
    out = JsonValue::dbl(d);
    return true;
  }

  [[gnu::noinline]] bool list(PyObject* obj, int depth, JsonValue& out) {
    if (depth >= kMaxNestingDepth) [[unlikely]]
      return fail(PyFailure::Kind::RecursionError, kTooDeep);
    const Py_ssize_t n = PyList_Size(obj);
    JsonValue* elems = n > 0 ? arena_.allocate_array<JsonValue>(static_cast<std::size_t>(n)) : nullptr;
    Py_ssize_t i = 0;
    // A hook may shrink the list: it is measured again before every element.
    for (; i < n && i < PyList_Size(obj); ++i) {
      Ref item = Ref::borrow(PyList_GetItem(obj, i));
      if (!convert(item.get(), depth + 1, elems[i])) return false;
    }
    out = JsonValue::array_ref(elems, static_cast<std::size_t>(i));
    return true;
  }

  [[gnu::noinline]] bool tuple(PyObject* obj, int depth, JsonValue& out) {
    if (depth >= kMaxNestingDepth) [[unlikely]]
      return fail(PyFailure::Kind::RecursionError, kTooDeep);
    const Py_ssize_t n = PyTuple_Size(obj);
    JsonValue* elems = n > 0 ? arena_.allocate_array<JsonValue>(static_cast<std::size_t>(n)) : nullptr;
    for (Py_ssize_t i = 0; i < n; ++i)
      if (!convert(PyTuple_GetItem(obj, i), depth + 1, elems[i])) return false;
    out = JsonValue::array_ref(elems, static_cast<std::size_t>(n));
    return true;
  }

  // Walks the dict's own storage (a subclass's items/__iter__ are never
  // called), checking before every step that hooks have not changed it.
  [[gnu::noinline]] bool dict(PyObject* obj, int depth, JsonValue& out) {
    if (depth >= kMaxNestingDepth) [[unlikely]]
      return fail(PyFailure::Kind::RecursionError, kTooDeep);
    const Py_ssize_t size = PyDict_Size(obj);
    const std::size_t base = members_.size();
    Py_ssize_t pos = 0, seen = 0;
    PyObject *key, *value;
    for (;;) {
      if (PyDict_Size(obj) != size) [[unlikely]]
        return fail(PyFailure::Kind::Panic, "dictionary changed size during iteration");
      if (seen > size) [[unlikely]]
        return fail(PyFailure::Kind::Panic, "dictionary keys changed during iteration");
      if (!PyDict_Next(obj, &pos, &key, &value)) break;
      ++seen;
      JsonMember m;
      if (!member_name(key, m.name)) return false;
      Ref held = Ref::borrow(value);
      if (!convert(held.get(), depth + 1, m.value)) return false;
      members_.push_back(m);
    }
    // Nested dicts used the scratch above `base` and gave it back.
    out = json::make_object(arena_, std::span<JsonMember>(members_.data() + base, members_.size() - base));
    members_.resize(base);
    return true;
  }

  bool member_name(PyObject* key, std::string_view& name) {
    if (Py_TYPE(key) != &PyUnicode_Type && !PyUnicode_Check(key)) [[unlikely]]
      return bad_key(key);
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &len);
    if (utf8 == nullptr) [[unlikely]]
      return fail(PyFailure::Kind::Pending, "");  // the interpreter's UnicodeEncodeError
    name = text(key, std::string_view(utf8, static_cast<std::size_t>(len)));
    return true;
  }

  // A conversion hook failed: that only means this test does not apply, and
  // the next one runs. An exception that is not an Exception (KeyboardInterrupt,
  // SystemExit) is not a verdict on the object, so it ends the conversion.
  [[gnu::cold]] static bool discard_hook_failure() {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
    PyErr_Clear();
    return true;
  }

  // Subclasses, NumPy scalars and protocol objects: the tests in full order.
  // A hook's failure only ends its own test.
  [[gnu::cold, gnu::noinline]] bool other(PyObject* obj, int depth, JsonValue& out) {
    PyTypeObject* type = Py_TYPE(obj);
    if (frame::is_numpy_bool(obj)) {
      int b = frame::numpy_bool_value(obj);
      if (b >= 0) {
        out = JsonValue::boolean(b == 1);
        return true;
      }
      if (!discard_hook_failure()) return fail(PyFailure::Kind::Pending, "");
    }

    const bool is_int = PyLong_Check(obj);
    const bool has_index = has_slot(type, Py_nb_index);
    if (is_int || has_index) {
      Ref index = is_int ? Ref::borrow(obj) : Ref::steal(PyNumber_Index(obj));
      if (index) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
        if (overflow == 0 && !(v == -1 && PyErr_Occurred())) {
          out = JsonValue::integer(v);
          return true;
        }
      }
      if (PyErr_Occurred() != nullptr && !discard_hook_failure()) return fail(PyFailure::Kind::Pending, "");
    }

    // The float protocol: a float, else __float__, else __index__.
    if (PyFloat_Check(obj) || is_int || has_index || has_slot(type, Py_nb_float)) {
      double d = PyFloat_AsDouble(obj);
      if (!(d == -1.0 && PyErr_Occurred())) {
        out = from_double(d);
        return true;
      }
      if (!discard_hook_failure()) return fail(PyFailure::Kind::Pending, "");
    }

    if (PyUnicode_Check(obj)) return string(obj, out);
    if (PyList_Check(obj)) return list(obj, depth, out);
    if (PyTuple_Check(obj)) return tuple(obj, depth, out);
    if (PyDict_Check(obj)) return dict(obj, depth, out);
    return fail(PyFailure::Kind::TypeError, kUnsupported);
  }

  json::Arena& arena_;
  std::vector<Ref>* keep_;
  std::vector<JsonMember> members_;  // scratch for the dicts being walked, innermost last
  PyFailure failure_ = PyFailure::pending();
};

// ---- JSON value -> interpreter object ----------------------------------------

class ToPy {
 public:
  // A new object, or an empty Ref with the failure recorded.
  Ref build(const JsonValue& v, int depth) {
    switch (v.kind()) {
      case json::Kind::Null: return Ref::borrow(Py_None);
      case json::Kind::Bool: return Ref::borrow(v.as_bool() ? Py_True : Py_False);
      case json::Kind::UInt: return made(PyLong_FromUnsignedLongLong(v.as_uint()));
      case json::Kind::Int: return made(PyLong_FromLongLong(v.as_int()));
      case json::Kind::Double: return made(PyFloat_FromDouble(v.as_double()));
      case json::Kind::String: return new_str(v.as_string());
      case json::Kind::Array: return list(v, depth);
      case json::Kind::Object: return dict(v, depth);
    }
    return made(nullptr);
  }

  PyFailure take_failure() { return std::move(failure_); }

 private:
  [[gnu::cold, gnu::noinline]] Ref fail(PyFailure::Kind kind, const char* message) {
    failure_ = PyFailure{kind, message};
    return Ref();
  }

  // The interpreter could not create an object: only when out of memory.
  [[gnu::cold]] Ref creation_failed() {
    PyErr_PrintEx(0);
    return fail(PyFailure::Kind::Panic, kApiFailed);
  }

  Ref made(PyObject* obj) {
    if (obj == nullptr) [[unlikely]]
      return creation_failed();
    return Ref::steal(obj);
  }

  Ref new_str(std::string_view s) {
    return made(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
  }

  // Sized once and filled in element order (setting a slot of a new list
  // cannot fail, unlike appending).
  Ref list(const JsonValue& v, int depth) {
    if (depth >= kMaxNestingDepth) [[unlikely]]
      return fail(PyFailure::Kind::RecursionError, kTooDeep);
    auto elems = v.elements();
    Ref out = made(PyList_New(static_cast<Py_ssize_t>(elems.size())));
    if (!out) return out;
    for (std::size_t i = 0; i < elems.size(); ++i) {
      Ref e = build(elems[i], depth + 1);
      if (!e) return e;
      PyList_SetItem(out.get(), static_cast<Py_ssize_t>(i), e.release());
    }
    return out;
  }

  // Member names repeat across the objects of a document (arrays of records):
  // each distinct short name becomes one str, shared by every dict that uses
  // it, as the standard library's JSON decoder does. Its hash is then computed
  // once too.
  Ref key_str(std::string_view name) {
    if (name.size() > kMaxCachedKey) return new_str(name);
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ name.size();
    for (unsigned char c : name) h = (h ^ c) * 0x100000001B3ull;
    CachedKey& slot = keys_[(h ^ (h >> 29)) & (kKeySlots - 1)];
    if (slot.str && slot.name == name) return Ref::borrow(slot.str.get());
    Ref str = new_str(name);
    if (str) {
      slot.name = name;
      slot.str = Ref::borrow(str.get());
    }
    return str;
  }

  Ref dict(const JsonValue& v, int depth) {
    if (depth >= kMaxNestingDepth) [[unlikely]]
      return fail(PyFailure::Kind::RecursionError, kTooDeep);
    Ref out = made(PyDict_New());
    if (!out) return out;
    for (const JsonMember& m : v.members()) {
      Ref key = key_str(m.name);
      if (!key) return key;
      Ref value = build(m.value, depth + 1);
      if (!value) return value;
      if (PyDict_SetItem(out.get(), key.get(), value.get()) < 0) [[unlikely]]
        return fail(PyFailure::Kind::Pending, "");
    }
    return out;
  }

  static constexpr std::size_t kMaxCachedKey = 32;
  static constexpr std::size_t kKeySlots = 256;
  struct CachedKey {
    std::string_view name;  // refers to the value being converted, alive for the call
    Ref str;
  };

  PyFailure failure_ = PyFailure::pending();
  CachedKey keys_[kKeySlots];
};

}  // namespace

PyResult<json::JsonValue> pyobject_to_json(PyObject* obj, json::Arena& arena, std::vector<Ref>* keep) {
  ToJson walk(arena, keep);
  JsonValue out;
  if (!walk.convert(obj, 0, out)) return walk.take_failure();
  return out;
}

PyResult<Ref> json_to_pyobject(const json::JsonValue& value) {
  ToPy walk;
  Ref out = walk.build(value, 0);
  if (!out) return walk.take_failure();
  return out;
}

PyResult<std::optional<std::string_view>> extract_optional_bytes(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return std::optional<std::string_view>();
  char* data = nullptr;
  Py_ssize_t len = 0;
  if (!PyBytes_Check(obj) || PyBytes_AsStringAndSize(obj, &data, &len) < 0) [[unlikely]] {
    PyErr_Clear();
    return PyFailure::type_error("expected bytes or None");
  }
  return std::optional<std::string_view>(std::string_view(data, static_cast<std::size_t>(len)));
}

}  // namespace quarn::pybridge
