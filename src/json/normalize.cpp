#include "json/normalize.h"

#include <cmath>
#include <cstring>

#include "json/number.h"
#include "json/parse.h"
#include "json/print.h"

namespace quarn::json {

namespace {

// Rebuilds `v` with every double replaced by its read-back. Returns false when
// the read-back fails somewhere (then the slow path finds the exact error).
bool renormalize(const JsonValue& v, JsonValue& out, Arena& arena, int depth) {
  switch (v.kind()) {
    case Kind::Double: {
      const double d = v.as_double();
      if (!std::isfinite(d)) [[unlikely]] {
        out = JsonValue::null();  // it prints as null, so it reads back as null
        return true;
      }
      if (d == 0.0) {
        out = v;
        return true;
      }
      const std::uint64_t known = v.double_digits();
      double back;
      if (!reparse_digits(known != 0 ? digits_from(known, v.double_k()) : shortest_digits(d), d, back))
        return false;
      out = back == d ? v : JsonValue::dbl(back);
      return true;
    }
    case Kind::Array: {
      if (depth >= kMaxDepth) return false;
      auto elems = v.elements();
      JsonValue* copy = nullptr;
      for (std::size_t i = 0; i < elems.size(); ++i) {
        JsonValue e;
        if (!renormalize(elems[i], e, arena, depth + 1)) return false;
        if (copy == nullptr && !e.identical(elems[i])) {
          copy = arena.allocate_array<JsonValue>(elems.size());
          std::memcpy(static_cast<void*>(copy), elems.data(), elems.size() * sizeof(JsonValue));
        }
        if (copy != nullptr) copy[i] = e;
      }
      out = copy != nullptr ? JsonValue::array_ref(copy, elems.size()) : v;
      return true;
    }
    case Kind::Object: {
      if (depth >= kMaxDepth) return false;
      auto ms = v.members();
      JsonMember* copy = nullptr;
      for (std::size_t i = 0; i < ms.size(); ++i) {
        JsonValue e;
        if (!renormalize(ms[i].value, e, arena, depth + 1)) return false;
        if (copy == nullptr && !e.identical(ms[i].value)) {
          copy = arena.allocate_array<JsonMember>(ms.size());
          std::memcpy(static_cast<void*>(copy), ms.data(), ms.size() * sizeof(JsonMember));
        }
        if (copy != nullptr) copy[i].value = e;
      }
      out = copy != nullptr ? JsonValue::object_ref(copy, ms.size()) : v;
      return true;
    }
    default: out = v; return true;
  }
}

}  // namespace

Result<JsonValue> normalize_value(const JsonValue& value, Arena& arena) {
  JsonValue out;
  if (renormalize(value, out, arena, 0)) return out;
  // Slow path: print and parse for real, so that the error (and which one
  // comes first in the text) is exactly what the parser reports.
  Buffer text;
  print_json(value, text);
  Result<JsonValue> back = parse_json(text.view(), arena, StringStorage::Copy);
  if (back) return back;
  ModuleError e = std::move(back).error();
  e.kind = ErrorKind::Serialization;  // the text is the module's own, not the caller's
  return e;
}

}  // namespace quarn::json
