// Conversion between interpreter objects and JSON values.
//
// Everything here expects the interpreter lock to be held by the calling
// thread and never releases it. Objects handed in are borrowed for the call;
// nothing is kept once a function returns.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/arena.h"
#include "json/value.h"
#include "pybridge/pyfailure.h"
#include "pybridge/pyref.h"
#include "pybridge/python.h"

namespace quarn::pybridge {

// Containers (lists, tuples, dicts, and JSON arrays and objects on the way
// back) nested deeper than this fail with RecursionError instead of running
// the native stack out; the outermost container counts as 1.
inline constexpr int kMaxNestingDepth = 512;

// The JSON value of `obj` (borrowed; the caller keeps it alive).
//
// Tests, first match wins: None; bool (and NumPy bools, recognised without
// importing NumPy); int, or anything with `__index__`, in the signed 64-bit
// range; anything the float protocol reads (NaN and infinities give null);
// str encodable as UTF-8; list; tuple; dict with str keys. A failure raised by
// an object's own conversion hook only makes its test fail. Otherwise:
// TypeError "unsupported value type for Rust export payload processing".
// A non-str dict key is TypeError "'<type>' object cannot be cast as 'str'"; a
// key with a lone surrogate the interpreter's UnicodeEncodeError (pending); a
// dict whose size or keys change during the walk PanicException.
//
// Elements, members and names go to `arena`. Strings too, unless `keep` is
// given: then a string of kBorrowMinBytes or more UTF-8 bytes points at the
// str's own UTF-8 buffer (a str never changes while a reference to it is
// held), and that reference is appended to `keep`, which must outlive every
// use of the value. Without `keep` the value refers to no interpreter memory.
PyResult<json::JsonValue> pyobject_to_json(PyObject* obj, Arena& arena, std::vector<Ref>* keep = nullptr);

// Shorter strings are cheaper to copy than to hold: a copy is one bump
// allocation and a memcpy, a hold is a reference count written twice and a
// slot in the keep list.
inline constexpr std::size_t kBorrowMinBytes = 1024;

// Builds new interpreter objects from JSON values, for the several values of
// one call. A member name met again, in any of them, becomes the same str
// (names of up to kMaxSharedNameBytes), so the interpreter hashes it once.
class PyBuilder {
 public:
  PyBuilder();
  ~PyBuilder();
  PyBuilder(const PyBuilder&) = delete;
  PyBuilder& operator=(const PyBuilder&) = delete;

  // A new object for `value`: None, bool, int (the full unsigned 64-bit
  // range), float, str, list, or dict filled in member order. If the
  // interpreter cannot create an object, its error is printed to standard
  // error and the failure is PanicException "Python API call failed"; if
  // setting a dict item fails, that exception is left pending. Nothing partly
  // built survives a failure.
  //
  // `like` (borrowed, may be null) is the object that
  // `value` was read from, as far as the caller knows: where an exact str,
  // int or float of `like` stands at the same place as a string or number of
  // `value` and equals it, that object is used instead of a new one, and so
  // are the exact str keys of its dicts for equal member names. Nothing of
  // `like` is trusted: every object is compared with the value before use, so
  // a `like` changed since (or unrelated) only costs the reuse. Lists and
  // dicts are always new.
  PyResult<Ref> build(const json::JsonValue& value, PyObject* like = nullptr);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Longer member names get a str of their own in every dict.
inline constexpr std::size_t kMaxSharedNameBytes = 32;

// The contents of an optional byte-string argument: absent for nullptr or
// None; the bytes of a `bytes` (or subclass) instance, which stay valid while
// `obj` lives (bytes are immutable, so no call can change them); otherwise
// TypeError "expected bytes or None".
PyResult<std::optional<std::string_view>> extract_optional_bytes(PyObject* obj);

// A new bytes object holding the google.protobuf.Struct encoding of `value`
// (empty for a non-object), measured first and written straight into the
// object. Null only when the interpreter cannot create it.
Ref struct_bytes_object(const json::JsonValue& value);

}  // namespace quarn::pybridge
