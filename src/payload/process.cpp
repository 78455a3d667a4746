#include "payload/process.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "base/utf8.h"
#include "json/normalize.h"
#include "json/parse.h"
#include "json/print.h"
#include "payload/base64.h"

namespace quarn::payload {

namespace {

using json::JsonMember;
using json::JsonValue;
using json::Kind;

// Values are immutable handles: an unchanged value is the same 16 bytes.
inline bool same_handle(const JsonValue& a, const JsonValue& b) noexcept { return a.identical(b); }

// The member of `ms[from..]` named `name`, as an index; `ms.size()` if none.
// `from` moves to where the search stopped, so ascending names are found in
// one sweep of O(log n) steps each.
std::size_t find_from(json::JsonObject ms, std::size_t& from, std::string_view name) noexcept {
  auto it = std::lower_bound(ms.begin() + static_cast<std::ptrdiff_t>(from), ms.end(), name,
                             [](const JsonMember& m, std::string_view n) { return m.name < n; });
  from = static_cast<std::size_t>(it - ms.begin());
  if (it != ms.end() && it->name == name) return from;
  return ms.size();
}

// One member's value under its rule. `scratch` holds decoded Base64 bytes and
// is reused from member to member.
JsonValue decode_member(JsonValue v, const MergeRule& rule, Arena& arena, Buffer& scratch) {
  if (rule.encoding == 1 && v.is_string()) {
    std::string_view s = v.as_string();
    char* bytes = scratch.prepare(base64_decoded_capacity(s.size()));
    std::size_t n;
    if (base64_decode(s, bytes, n)) v = JsonValue::string_ref(utf8_lossy({bytes, n}, arena));
  }
  if (rule.decoded_type == 1 && v.is_string()) {
    // Strings of the parsed value may point into `v`'s bytes: those live in
    // the arena or in the payload's own storage.
    Result<JsonValue> parsed = json::parse_json(v.as_string(), arena, json::StringStorage::Borrow);
    if (parsed) v = *parsed;
  }
  return v;
}

// ---- schema ----------------------------------------------------------------
constexpr std::uint64_t type_code(Kind k) noexcept {
  switch (k) {
    case Kind::Null: return 4;
    case Kind::Bool: return 3;
    case Kind::UInt:
    case Kind::Int:
    case Kind::Double: return 1;
    case Kind::String: return 2;
    case Kind::Array: return 7;
    case Kind::Object: return 6;
  }
  return 4;
}

inline JsonValue empty_object() noexcept { return JsonValue::object_ref(nullptr, 0); }

class SchemaBuilder {
 public:
  explicit SchemaBuilder(Arena& arena) : arena_(arena) {}

  JsonValue derive(const JsonValue& x) {
    const Kind k = x.kind();
    if (k == Kind::Array && x.size() != 0) {
      JsonValue items = derive(x.elements()[0]);
      return node(7, &items, empty_object(), nullptr);
    }
    if (k == Kind::Object && x.size() != 0) return node(6, nullptr, properties(x, nullptr), nullptr);
    // Scalars and empty containers: one shared schema per type code.
    const std::uint64_t code = type_code(k);
    JsonValue& leaf = leaves_[code];
    if (leaf.is_null()) leaf = node(code, nullptr, empty_object(), nullptr);
    return leaf;
  }

  // The schema of a top-level object whose properties the rules annotate.
  JsonValue derive_top(const JsonValue& x, const SchemaMerges& merges) {
    if (x.kind() != Kind::Object || x.size() == 0 || merges.empty()) return derive(x);
    return node(6, nullptr, properties(x, &merges), nullptr);
  }

 private:
  // Member name -> schema for the members of object `x`; with `merges`, the
  // schemas of members that a rule names carry the rule's annotations.
  JsonValue properties(const JsonValue& x, const SchemaMerges* merges) {
    json::JsonObject ms = x.members();
    JsonMember* out = arena_.allocate_array<JsonMember>(ms.size());
    for (std::size_t i = 0; i < ms.size(); ++i) out[i] = JsonMember{ms[i].name, derive(ms[i].value)};
    if (merges != nullptr) {
      std::size_t from = 0;
      for (const SchemaMerges::Entry& e : *merges) {
        std::size_t i = find_from(ms, from, e.name);
        if (from == ms.size()) break;
        if (i == ms.size()) continue;
        out[i].value = annotate(out[i].value, e.rule);
        ++from;
      }
    }
    // The names are the object's own, so they need escaping exactly when its do.
    const JsonValue props = JsonValue::object_ref(out, ms.size());
    return x.is_plain() ? props.plain() : props;
  }

  // `schema` (a node built here) with the rule's fields added.
  JsonValue annotate(const JsonValue& schema, const MergeRule& rule) {
    const bool importance = rule.match_importance.has_value() && std::isfinite(*rule.match_importance);
    if (!rule.encoding && !rule.decoded_type && !importance) return schema;
    const JsonValue* items = schema.find("items");
    const JsonValue* props = schema.find("properties");
    const JsonValue* type = schema.find("type");
    return node(type->as_uint(), items, *props, &rule);
  }

  // {"decoded_type","encoding","items","match_importance","properties","type"}:
  // the names in ascending byte order, each present as needed.
  JsonValue node(std::uint64_t code, const JsonValue* items, const JsonValue& props, const MergeRule* rule) {
    JsonMember ms[6];
    std::size_t n = 0;
    if (rule != nullptr && rule->decoded_type)
      ms[n++] = JsonMember{"decoded_type", JsonValue::integer(*rule->decoded_type)};
    if (rule != nullptr && rule->encoding)
      ms[n++] = JsonMember{"encoding", JsonValue::integer(*rule->encoding)};
    if (items != nullptr) ms[n++] = JsonMember{"items", *items};
    if (rule != nullptr && rule->match_importance && std::isfinite(*rule->match_importance))
      ms[n++] = JsonMember{"match_importance", JsonValue::dbl(*rule->match_importance)};
    ms[n++] = JsonMember{"properties", props};
    ms[n++] = JsonMember{"type", JsonValue::uint(code)};
    // The names above need no escaping.
    return json::make_object_sorted(arena_, std::span<const JsonMember>(ms, n)).plain();
  }

  Arena& arena_;
  JsonValue leaves_[8];  // by type code; null until built
};

// `size_hint`: the expected length, reserved up front; the printer grows the
// buffer past it when needed.
void print_into(const JsonValue& v, Buffer& out, std::size_t size_hint) {
  out.clear();
  out.reserve(size_hint);
  json::print_json(v, out);
}

// True when a rule may decode a top-level member: a Base64 or JSON rule names
// a member that holds a string (normalization changes neither).
bool may_change(const JsonValue& payload, const SchemaMerges& merges) noexcept {
  if (!payload.is_object()) return false;
  return std::any_of(merges.begin(), merges.end(), [&](const SchemaMerges::Entry& e) {
    if (e.rule.encoding != 1 && e.rule.decoded_type != 1) return false;
    const JsonValue* member = payload.find(e.name);
    return member != nullptr && member->is_string();
  });
}

}  // namespace

JsonValue decode_payload_fields(const JsonValue& value, const SchemaMerges& merges, Arena& arena) {
  if (merges.empty() || !value.is_object()) return value;
  json::JsonObject ms = value.members();
  JsonMember* copy = nullptr;  // made on the first change
  Buffer scratch;
  std::size_t from = 0;
  // Rules and members are both in ascending name order.
  for (const SchemaMerges::Entry& e : merges) {
    std::size_t i = find_from(ms, from, e.name);
    if (from == ms.size()) break;
    if (i == ms.size()) continue;
    ++from;
    JsonValue v = decode_member(ms[i].value, e.rule, arena, scratch);
    if (same_handle(v, ms[i].value)) continue;
    if (copy == nullptr) {
      copy = arena.allocate_array<JsonMember>(ms.size());
      std::memcpy(static_cast<void*>(copy), ms.data(), ms.size() * sizeof(JsonMember));
    }
    copy[i].value = v;
  }
  return copy != nullptr ? JsonValue::object_ref(copy, ms.size()) : value;
}

JsonValue derive_schema(const JsonValue& value, const SchemaMerges* merges, Arena& arena) {
  SchemaBuilder b(arena);
  return merges != nullptr ? b.derive_top(value, *merges) : b.derive(value);
}

Result<ProcessedPayload> process_payload_value(const JsonValue& payload,
                                               std::optional<std::string_view> schema_merges_text,
                                               Arena& arena, const PayloadOptions& options) {
  PrintedPayload texts;
  PrintedPayload* printed = options.texts ? &texts : nullptr;
  // The rules are read first, but a failure to read them is reported only
  // after normalization has succeeded, as the steps' order requires. Knowing
  // them first tells whether decoding can change the payload.
  std::optional<Result<SchemaMerges>> read_rules;
  if (schema_merges_text) read_rules.emplace(parse_schema_merges(*schema_merges_text));
  const bool may_decode = read_rules && read_rules->ok() && may_change(payload, read_rules->value());

  // Step 1, normalization. Most payloads read back unchanged, and then the
  // payload is its own normalized form. It runs while the normalized text is
  // printed when that text is wanted: for the caller (`printed`), or as the
  // value hashed when no member can be decoded; otherwise a walk over the
  // doubles does.
  std::optional<Sha256> normalized_digest;  // only while streaming
  Buffer streamed;
  Buffer* text = nullptr;
  if (printed != nullptr) {
    text = &printed->normalized;
    text->reserve(options.text_size_hint + 128);
  } else if (!may_decode) {
    text = &streamed;
    streamed.reserve(std::size_t{16} * 1024);
    streamed.set_sink([](void* h, const char* p, std::size_t n) { static_cast<Sha256*>(h)->update(p, n); },
                      &normalized_digest.emplace());
  }
  JsonValue normalized = payload;
  bool moved = false;
  if (text == nullptr || !json::print_json_normalized(payload, *text, &moved) || moved) {
    // The doubles read back as others (rarely), a failure to find, or no text wanted.
    Result<JsonValue> n = json::normalize_value(payload, arena);
    if (!n) return std::move(n).error();
    if (text != nullptr && !moved)
      throw std::logic_error("normalized printing failed where normalization did not");
    normalized = *n;
  }
  if (text != nullptr) text->flush();

  SchemaMerges rules;
  if (read_rules) {
    if (!read_rules->ok()) return std::move(*read_rules).error();
    rules = std::move(read_rules->value());
  }

  const JsonValue merged = decode_payload_fields(normalized, rules, arena);
  const JsonValue schema = derive_schema(merged, &rules, arena);
  const bool merged_is_normalized = same_handle(merged, normalized);

  HashText value_hash, schema_hash;
  if (printed != nullptr) {
    printed->merged_is_normalized = merged_is_normalized;
    if (merged_is_normalized) printed->merged.clear();
    else print_into(merged, printed->merged, printed->normalized.size() + 128);
    // A schema is usually about as long as the payload it describes.
    print_into(schema, printed->schema, printed->normalized.size() + 256);
    value_hash = sha256_hex(printed->merged_text());
    schema_hash = sha256_hex(printed->schema.view());
  } else {
    value_hash = merged_is_normalized && normalized_digest ? normalized_digest->finish()
                                                           : json::hash_json_value(merged);
    schema_hash = json::hash_json_value(schema);
  }

  return ProcessedPayload{value_hash, schema_hash, normalized, merged, schema, std::move(texts)};
}

}  // namespace quarn::payload
