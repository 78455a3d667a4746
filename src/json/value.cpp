#include "json/value.h"

#include <algorithm>
#include <cstring>

#include "json/scan.h"

namespace quarn::json {

const JsonValue* JsonValue::find(std::string_view name) const noexcept {
  JsonObject ms = members();
  auto it = std::lower_bound(ms.begin(), ms.end(), name,
                             [](const JsonMember& m, std::string_view n) { return m.name < n; });
  if (it != ms.end() && it->name == name) return &it->value;
  return nullptr;
}

JsonValue make_array(Arena& arena, std::span<const JsonValue> elems) {
  if (elems.empty()) return JsonValue::array_ref(nullptr, 0);
  JsonValue* out = arena.allocate_array<JsonValue>(elems.size());
  std::memcpy(static_cast<void*>(out), elems.data(), elems.size() * sizeof(JsonValue));
  return JsonValue::array_ref(out, elems.size());
}

JsonValue make_object_sorted(Arena& arena, std::span<const JsonMember> members) {
  if (members.empty()) return JsonValue::object_ref(nullptr, 0);
  JsonMember* out = arena.allocate_array<JsonMember>(members.size());
  std::memcpy(static_cast<void*>(out), members.data(), members.size() * sizeof(JsonMember));
  return JsonValue::object_ref(out, members.size());
}

namespace {

// Whether `ms` holds the names that `names` remembers, in the same order.
template <class Name>
bool same_names(std::span<const JsonMember> ms, const Name* names) noexcept {
  for (std::size_t i = 0; i < ms.size(); ++i) {
    const std::string_view a = ms[i].name, b{names[i].data, names[i].size};
    if (a.size() != b.size() || (a.data() != b.data() && std::memcmp(a.data(), b.data(), a.size()) != 0))
      return false;
  }
  return true;
}

}  // namespace

JsonValue make_object(Arena& arena, std::span<JsonMember> members, KeyOrderMemo* memo) {
  std::span<JsonMember> ms = members;
  const std::size_t n = ms.size();
  auto less = [](const JsonMember& a, const JsonMember& b) { return detail::name_less(a.name, b.name); };
  bool ascending = true;
  for (std::size_t i = 1; i < n; ++i) {
    if (!detail::name_less(ms[i - 1].name, ms[i].name)) {
      ascending = false;
      break;
    }
  }
  if (ascending) return make_object_sorted(arena, ms);

  // From here on n >= 2.
  KeyOrderMemo::Entry* seen = nullptr;
  if (memo != nullptr && n <= KeyOrderMemo::kMaxMembers) {
    const std::uint64_t h = (detail::name_prefix(ms[0].name) ^ n) * 0x9E3779B97F4A7C15ull;
    seen = &memo->entries_[h >> 61];
    static_assert(KeyOrderMemo::kEntries == 8, "three bits of the hash pick the entry");
    if (seen->n == n && same_names(ms, seen->names)) {
      // Names seen before in this order: the order found then applies.
      JsonMember* out = arena.allocate_array<JsonMember>(n);
      for (std::size_t k = 0; k < n; ++k) out[k] = ms[seen->order[k]];
      return JsonValue::object_ref(out, n);
    }
  }

  bool descending = true;
  for (std::size_t i = 1; i < n; ++i) {
    if (!detail::name_less(ms[i].name, ms[i - 1].name)) {
      descending = false;
      break;
    }
  }
  if (descending) {
    std::reverse(ms.begin(), ms.end());
    return make_object_sorted(arena, ms);
  }

  static_assert(KeyOrderMemo::kMaxMembers <= 255, "positions are kept in a byte");
  std::uint8_t from[KeyOrderMemo::kMaxMembers];  // original position of each member as sorted
  if (n <= KeyOrderMemo::kMaxMembers) {
    // Small objects (most of them): a stable insertion sort, with no
    // temporary buffer to allocate. The names' first eight bytes, as one
    // number each, order most pairs without comparing strings.
    std::uint64_t prefix[KeyOrderMemo::kMaxMembers];
    for (std::size_t i = 0; i < n; ++i) {
      prefix[i] = detail::name_prefix(ms[i].name);
      from[i] = static_cast<std::uint8_t>(i);
    }
    for (std::size_t i = 1; i < n; ++i) {
      const JsonMember m = ms[i];
      const std::uint64_t p = prefix[i];
      const std::uint8_t f = from[i];
      std::size_t j = i;
      for (;
           j > 0 && (p < prefix[j - 1] || (p == prefix[j - 1] && detail::name_less(m.name, ms[j - 1].name)));
           --j) {
        ms[j] = ms[j - 1];
        prefix[j] = prefix[j - 1];
        from[j] = from[j - 1];
      }
      ms[j] = m;
      prefix[j] = p;
      from[j] = f;
    }
  } else {
    std::stable_sort(ms.begin(), ms.end(), less);
  }
  // Keep the last member of every run of equal names.
  std::size_t w = 0;
  for (std::size_t r = 0; r < n; ++r) {
    if (r + 1 < n && ms[r + 1].name == ms[r].name) continue;
    ms[w++] = ms[r];
  }
  if (seen != nullptr && w == n) {
    seen->n = n;
    for (std::size_t k = 0; k < n; ++k) {
      seen->names[from[k]] = {ms[k].name.data(), ms[k].name.size()};
      seen->order[k] = from[k];
    }
  }
  return make_object_sorted(arena, ms.first(w));
}

bool equal(const JsonValue& a, const JsonValue& b) noexcept {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::Null: return true;
    case Kind::Bool: return a.as_bool() == b.as_bool();
    case Kind::UInt:
    case Kind::Int: return a.as_uint() == b.as_uint();
    case Kind::Double: return a.as_double() == b.as_double();
    case Kind::String: return a.as_string() == b.as_string();
    case Kind::Array: {
      if (a.size() != b.size()) return false;
      auto ea = a.elements(), eb = b.elements();
      for (std::size_t i = 0; i < ea.size(); ++i)
        if (!equal(ea[i], eb[i])) return false;
      return true;
    }
    case Kind::Object: {
      if (a.size() != b.size()) return false;
      auto ma = a.members(), mb = b.members();
      for (std::size_t i = 0; i < ma.size(); ++i)
        if (ma[i].name != mb[i].name || !equal(ma[i].value, mb[i].value)) return false;
      return true;
    }
  }
  return false;
}

}  // namespace quarn::json
