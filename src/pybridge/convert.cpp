#include "pybridge/convert.h"

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "json/print.h"
#include "proto/struct.h"
#include "pybridge/pytype.h"

namespace quarn::pybridge {

namespace {

using json::JsonMember;
using json::JsonValue;

using msg::kApiFailed;
using msg::kUnsupportedValue;
static_assert(kMaxNestingDepth == 512, "msg::kObjectTooDeep names the bound");

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
  ToJson(Arena& arena, std::vector<Ref>* keep) : arena_(arena), keep_(keep) {}

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
    failure_ = PyFailure::type_error("'" + type_name(held.get()) + msg::kKeyNotStr);
    return false;
  }

  // A str (or subclass): its UTF-8 bytes, as `text` keeps them.
  bool string(PyObject* obj, JsonValue& out) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &len);
    if (utf8 == nullptr) [[unlikely]] {
      // A lone surrogate: no test but the string test takes a str.
      PyErr_Clear();
      return fail(PyFailure::Kind::TypeError, kUnsupportedValue);
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
      return fail(PyFailure::Kind::TypeError, kUnsupportedValue);
    }
    out = JsonValue::dbl(d);
    return true;
  }

  [[gnu::noinline]] bool list(PyObject* obj, int depth, JsonValue& out) {
    if (depth >= kMaxNestingDepth) [[unlikely]]
      return fail(PyFailure::Kind::RecursionError, msg::kObjectTooDeep);
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
      return fail(PyFailure::Kind::RecursionError, msg::kObjectTooDeep);
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
      return fail(PyFailure::Kind::RecursionError, msg::kObjectTooDeep);
    const Py_ssize_t size = PyDict_Size(obj);
    const std::size_t base = members_.size();
    if (members_.capacity() == 0) members_.reserve(32);  // one allocation for most payloads
    Py_ssize_t pos = 0, seen = 0;
    PyObject *key, *value;
    bool names_plain = true;
    for (;;) {
      if (PyDict_Size(obj) != size) [[unlikely]]
        return fail(PyFailure::Kind::Panic, msg::kDictChangedSize);
      if (seen > size) [[unlikely]]
        return fail(PyFailure::Kind::Panic, msg::kDictKeysChanged);
      if (!PyDict_Next(obj, &pos, &key, &value)) break;
      ++seen;
      JsonMember m;
      if (!member_name(key, m.name)) return false;
      // Names are printed into both hashes of a payload: checked here once.
      names_plain = names_plain && json::prints_plain(m.name);
      Ref held = Ref::borrow(value);
      if (!convert(held.get(), depth + 1, m.value)) return false;
      members_.push_back(m);
    }
    // Nested dicts used the scratch above `base` and gave it back.
    out = json::make_object(arena_, std::span<JsonMember>(members_.data() + base, members_.size() - base),
                            &key_order_);
    if (names_plain) out = out.plain();
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
    if (is_numpy_bool(obj)) {
      int b = numpy_bool_value(obj);
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
    return fail(PyFailure::Kind::TypeError, kUnsupportedValue);
  }

  Arena& arena_;
  std::vector<Ref>* keep_;
  std::vector<JsonMember> members_;  // scratch for the dicts being walked, innermost last
  json::KeyOrderMemo key_order_;
  PyFailure failure_ = PyFailure::pending();
};

// ---- JSON value -> interpreter object ----------------------------------------

template <class T>
T load(const char* p) noexcept {
  T w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The member of `ms` named `name`, as an index; `ms.size()` if none. `hint`
// is tried first: the members of a dict whose keys were already in order are
// found one after another without a search.
std::size_t find_member(json::JsonObject ms, std::string_view name, std::size_t hint) noexcept {
  if (hint < ms.size() && ms[hint].name == name) return hint;
  std::size_t lo = 0, hi = ms.size();
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo) / 2;
    int c = ms[mid].name.compare(name);
    if (c == 0) return mid;
    if (c < 0) lo = mid + 1;
    else hi = mid;
  }
  return ms.size();
}

// A hash of a name of at most 32 bytes from its length and its first and last
// (up to) eight bytes: constant time, and names that collide only share a
// slot. Fixed-size loads only: a short copy read back whole would stall.
std::uint64_t name_hash(std::string_view s) noexcept {
  const std::size_t n = s.size();
  const char* p = s.data();
  std::uint64_t a, b;
  if (n >= 8) {
    a = load<std::uint64_t>(p);
    b = load<std::uint64_t>(p + n - 8);
  } else if (n >= 4) {
    a = load<std::uint32_t>(p);
    b = load<std::uint32_t>(p + n - 4);
  } else if (n > 0) {
    a = static_cast<unsigned char>(p[0]) | static_cast<unsigned>(static_cast<unsigned char>(p[n / 2])) << 8;
    b = static_cast<unsigned char>(p[n - 1]);
  } else {
    a = b = 0;
  }
  std::uint64_t h = (a ^ (n * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
  h ^= (b + n) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

}  // namespace

struct PyBuilder::State {
  // A new object, or an empty Ref with the failure recorded. `like`: see
  // PyBuilder::build; kept alive by the caller for the duration.
  Ref build(const JsonValue& v, PyObject* like, int depth) {
    switch (v.kind()) {
      case json::Kind::Null: return Ref::borrow(Py_None);
      case json::Kind::Bool: return Ref::borrow(v.as_bool() ? Py_True : Py_False);
      case json::Kind::UInt:
        if (like != nullptr && Py_TYPE(like) == &PyLong_Type && same_uint(like, v.as_uint()))
          return Ref::borrow(like);
        return made(PyLong_FromUnsignedLongLong(v.as_uint()));
      case json::Kind::Int:
        if (like != nullptr && Py_TYPE(like) == &PyLong_Type && same_int(like, v.as_int()))
          return Ref::borrow(like);
        return made(PyLong_FromLongLong(v.as_int()));
      case json::Kind::Double:
        if (like != nullptr && Py_TYPE(like) == &PyFloat_Type && same_double(like, v.as_double()))
          return Ref::borrow(like);
        return made(PyFloat_FromDouble(v.as_double()));
      case json::Kind::String:
        if (like != nullptr && Py_TYPE(like) == &PyUnicode_Type && same_text(like, v.as_string()))
          return Ref::borrow(like);
        return new_str(v.as_string());
      case json::Kind::Array: return list(v, like, depth);
      case json::Kind::Object:
        // Empty ones are many (every leaf of a schema has one).
        if (v.size() == 0 && depth < kMaxNestingDepth) return made(PyDict_New());
        return dict(v, like, depth);
    }
    return made(nullptr);
  }

  [[gnu::cold, gnu::noinline]] Ref fail(PyFailure::Kind kind, const char* message) {
    failure = PyFailure{kind, message};
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

  // Whether the exact int `obj` has the value `i`.
  static bool same_int(PyObject* obj, std::int64_t i) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (v == -1 && PyErr_Occurred()) [[unlikely]] {
      PyErr_Clear();
      return false;
    }
    return overflow == 0 && v == i;
  }

  // Only non-negative ints: the bits of -1 are those of 2^64 - 1.
  static bool same_uint(PyObject* obj, std::uint64_t u) {
    return u <= static_cast<std::uint64_t>(INT64_MAX) && same_int(obj, static_cast<std::int64_t>(u));
  }

  // Bit for bit, so 0.0 and -0.0 stay apart.
  static bool same_double(PyObject* obj, double d) {
    const double x = PyFloat_AsDouble(obj);
    std::uint64_t a, b;
    std::memcpy(&a, &x, sizeof a);
    std::memcpy(&b, &d, sizeof b);
    return a == b;
  }

  static bool same_text(PyObject* obj, std::string_view s) {
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &len);
    if (utf8 == nullptr) [[unlikely]] {
      PyErr_Clear();  // a lone surrogate (or no memory): a new str it is
      return false;
    }
    return static_cast<std::size_t>(len) == s.size() &&
           (utf8 == s.data() || std::memcmp(utf8, s.data(), s.size()) == 0);
  }

  // Sized once and filled in element order (setting a slot of a new list
  // cannot fail, unlike appending). A `like` list is measured again before
  // each element: building may collect garbage, whose finalizers can run.
  [[gnu::noinline]] Ref list(const JsonValue& v, PyObject* like, int depth) {
    if (depth >= kMaxNestingDepth) [[unlikely]]
      return fail(PyFailure::Kind::RecursionError, msg::kObjectTooDeep);
    auto elems = v.elements();
    Ref out = made(PyList_New(static_cast<Py_ssize_t>(elems.size())));
    if (!out) return out;
    const bool like_list = like != nullptr && Py_TYPE(like) == &PyList_Type;
    const bool like_tuple = like != nullptr && Py_TYPE(like) == &PyTuple_Type;
    for (std::size_t i = 0; i < elems.size(); ++i) {
      const auto at = static_cast<Py_ssize_t>(i);
      Ref hint;
      if (like_list && at < PyList_Size(like)) hint = Ref::borrow(PyList_GetItem(like, at));
      else if (like_tuple && at < PyTuple_Size(like)) hint = Ref::borrow(PyTuple_GetItem(like, at));
      Ref e = build(elems[i], hint.get(), depth + 1);
      if (!e) return e;
      PyList_SetItem(out.get(), at, e.release());
    }
    return out;
  }

  // The str for a member name: the cached one when the name was met before,
  // else a new one that is cached. Each distinct short name becomes one str,
  // shared by every dict that uses it, as the standard library's JSON decoder
  // does. Borrowed: `owned` holds every str made here (a long name's too)
  // until the builder goes. Null with the failure recorded.
  PyObject* key_str(std::string_view name) {
    if (name.size() > kMaxSharedNameBytes) [[unlikely]] {
      Ref str = new_str(name);
      if (!str) return nullptr;
      owned.push_back(std::move(str));
      return owned.back().get();
    }
    const std::size_t i = name_hash(name) & (kKeySlots - 1);
    CachedKey& slot = keys[i];
    if (is_cached(i) && slot.size == name.size() &&
        (slot.data == name.data() || std::memcmp(slot.data, name.data(), name.size()) == 0))
      return slot.str;
    Ref str = new_str(name);
    if (!str) return nullptr;
    remember(i, name, str.get());
    return str.get();
  }

  // `str`, a str whose UTF-8 form is `name`, is the one to use for it from now on.
  void remember(std::size_t i, std::string_view name, PyObject* str) {
    if (owned.capacity() == 0) owned.reserve(64);  // one allocation for most results
    owned.push_back(Ref::borrow(str));
    keys[i] = CachedKey{name.data(), name.size(), str};
    cached[i / 64] |= std::uint64_t{1} << (i % 64);
  }

  bool is_cached(std::size_t i) const noexcept { return (cached[i / 64] >> (i % 64)) & 1; }

  // Filled in member order. With a `like` dict, its exact str keys are first
  // matched to the members by their UTF-8 bytes; each match gives the member
  // its key object and the object to compare its value with.
  [[gnu::noinline]] Ref dict(const JsonValue& v, PyObject* like, int depth) {
    if (depth >= kMaxNestingDepth) [[unlikely]]
      return fail(PyFailure::Kind::RecursionError, msg::kObjectTooDeep);
    json::JsonObject ms = v.members();
    const std::size_t base = likes.size();
    if (like != nullptr && Py_TYPE(like) == &PyDict_Type && !ms.empty()) match(ms, like);
    const bool matched = likes.size() != base;
    Ref out = made(PyDict_New());
    if (!out) return out;
    for (std::size_t i = 0; i < ms.size(); ++i) {
      // Borrowed: `likes` holds a matched key and value until the end (nested
      // dicts use the scratch above this dict's share and give it back), the
      // cache every key it made.
      PyObject* key = matched ? likes[base + i].key.get() : nullptr;
      PyObject* hint = matched ? likes[base + i].value.get() : nullptr;
      if (key != nullptr) {
        if (ms[i].name.size() <= kMaxSharedNameBytes) {
          const std::size_t slot = name_hash(ms[i].name) & (kKeySlots - 1);
          if (!is_cached(slot)) remember(slot, ms[i].name, key);
        }
      } else {
        key = key_str(ms[i].name);
        if (key == nullptr) return Ref();
      }
      Ref value = build(ms[i].value, hint, depth + 1);
      if (!value) return value;
      if (PyDict_SetItem(out.get(), key, value.get()) < 0) [[unlikely]]
        return fail(PyFailure::Kind::Pending, "");
    }
    likes.resize(base);
    return out;
  }

  // Pairs the entries of the dict `like` with the members `ms` by name, into
  // `likes` above its current end (one slot per member; none if nothing matched).
  void match(json::JsonObject ms, PyObject* like) {
    const std::size_t base = likes.size();
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    std::size_t next = 0, found = 0;
    while (PyDict_Next(like, &pos, &key, &value)) {
      if (Py_TYPE(key) != &PyUnicode_Type) continue;
      Py_ssize_t len = 0;
      const char* utf8 = PyUnicode_AsUTF8AndSize(key, &len);
      if (utf8 == nullptr) [[unlikely]] {
        PyErr_Clear();
        continue;
      }
      const std::size_t i = find_member(ms, std::string_view(utf8, static_cast<std::size_t>(len)), next);
      if (i == ms.size()) continue;
      if (found++ == 0) likes.resize(base + ms.size());
      likes[base + i] = Like{Ref::borrow(key), Ref::borrow(value)};
      next = i + 1;
    }
  }

  static constexpr std::size_t kKeySlots = 512;
  struct CachedKey {
    const char* data;  // the name's bytes, alive for the call (the value's, or the key's own)
    std::size_t size;
    PyObject* str;  // owned through `owned`
  };
  struct Like {
    Ref key, value;
  };

  PyFailure failure = PyFailure::pending();
  std::vector<Like> likes;  // matched keys and values of the dicts being built, innermost last
  std::vector<Ref> owned;   // every key str made
  std::uint64_t cached[kKeySlots / 64] = {};
  CachedKey keys[kKeySlots];
};

// Default-initialised: the slots are read only once marked in `cached`.
PyBuilder::PyBuilder() : state_(new State) {}
PyBuilder::~PyBuilder() = default;

PyResult<Ref> PyBuilder::build(const json::JsonValue& value, PyObject* like) {
  state_->likes.clear();  // left over only by a failed build
  Ref out = state_->build(value, like, 0);
  if (!out) return std::exchange(state_->failure, PyFailure::pending());
  return out;
}

PyResult<json::JsonValue> pyobject_to_json(PyObject* obj, Arena& arena, std::vector<Ref>* keep) {
  ToJson walk(arena, keep);
  JsonValue out;
  if (!walk.convert(obj, 0, out)) return walk.take_failure();
  return out;
}

PyResult<std::optional<std::string_view>> extract_optional_bytes(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return std::optional<std::string_view>();
  char* data = nullptr;
  Py_ssize_t len = 0;
  if (!PyBytes_Check(obj) || PyBytes_AsStringAndSize(obj, &data, &len) < 0) [[unlikely]] {
    PyErr_Clear();
    return PyFailure::type_error(msg::kExpectedBytes);
  }
  return std::optional<std::string_view>(std::string_view(data, static_cast<std::size_t>(len)));
}

Ref struct_bytes_object(const json::JsonValue& value) {
  std::vector<std::size_t> sizes;
  sizes.reserve(32);
  const std::size_t total = proto::measure_json_struct(value, sizes);
  Ref bytes = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(total)));
  if (!bytes) return bytes;
  const std::size_t* cursor = sizes.data();
  char* out = PyBytes_AsString(bytes.get());
  [[maybe_unused]] char* end = proto::write_json_struct(value, cursor, out);
  assert(static_cast<std::size_t>(end - out) == total);
  return bytes;
}

}  // namespace quarn::pybridge
