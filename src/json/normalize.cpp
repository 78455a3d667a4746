#include "json/normalize.h"

#include <cmath>
#include <cstring>
#include <span>

#include "json/number.h"
#include "json/parse.h"
#include "json/print.h"

namespace quarn::json {

namespace {

// Rebuilds `v` with every double replaced by its read-back. Returns false when
// the read-back fails somewhere (then the slow path finds the exact error).
bool renormalize(const JsonValue& v, JsonValue& out, Arena& arena, int depth);

// Renormalizes the values of the elements or members (`value_of` picks the
// value of one) of a container at `depth`. `copy` is null when none changed,
// else a copy of `items` in the arena, made at the first change, with the new
// values.
template <class Item, class ValueOf>
[[gnu::always_inline]] inline bool renormalize_items(std::span<const Item> items, const Item*& copy,
                                                     Arena& arena, int depth, ValueOf value_of) {
  copy = nullptr;
  if (depth >= kMaxDepth) return false;
  Item* made = nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    JsonValue e;
    if (!renormalize(value_of(items[i]), e, arena, depth + 1)) return false;
    if (made == nullptr && !e.identical(value_of(items[i]))) {
      made = arena.allocate_array<Item>(items.size());
      std::memcpy(static_cast<void*>(made), items.data(), items.size() * sizeof(Item));
    }
    if (made != nullptr) value_of(made[i]) = e;
  }
  copy = made;
  return true;
}

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
      const JsonValue* copy;
      if (!renormalize_items(
              v.elements(), copy, arena, depth, [](auto& e) -> auto& { return e; }))
        return false;
      out = copy != nullptr ? JsonValue::array_ref(copy, v.size()) : v;
      return true;
    }
    case Kind::Object: {
      const JsonMember* copy;
      if (!renormalize_items(
              v.members(), copy, arena, depth, [](auto& m) -> auto& { return m.value; }))
        return false;
      if (copy == nullptr) {
        out = v;
      } else {
        // The names are the same, so what the mark says of them still holds.
        const JsonValue rebuilt = JsonValue::object_ref(copy, v.size());
        out = v.is_plain() ? rebuilt.plain() : rebuilt;
      }
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
