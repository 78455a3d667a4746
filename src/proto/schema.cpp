#include "proto/schema.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

namespace quarn::proto {

namespace {

constexpr std::uint32_t kTypeKey = make_key(1, kVarint);
constexpr std::uint32_t kPropertiesKey = make_key(2, kLengthDelimited);
constexpr std::uint32_t kItemsKey = make_key(3, kLengthDelimited);
constexpr std::uint32_t kEncodingKey = make_key(4, kVarint);
constexpr std::uint32_t kDecodedTypeKey = make_key(5, kVarint);
constexpr std::uint32_t kMatchImportanceKey = make_key(6, kSixtyFourBit);
// Inside a properties entry.
constexpr std::uint32_t kEntryNameKey = make_key(1, kLengthDelimited);
constexpr std::uint32_t kEntrySchemaKey = make_key(2, kLengthDelimited);

std::int32_t low32(std::uint64_t v) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

// An integer member that fits in a signed 64-bit integer, as its low 32 bits.
std::optional<std::int32_t> int_code(const json::JsonValue& v) noexcept {
  if (v.kind() == json::Kind::Int) return low32(v.as_uint());
  if (v.kind() == json::Kind::UInt && v.as_uint() <= static_cast<std::uint64_t>(INT64_MAX))
    return low32(v.as_uint());
  return std::nullopt;
}

JsonSchema* new_schema(Arena& arena) {
  return ::new (arena.allocate(sizeof(JsonSchema), alignof(JsonSchema))) JsonSchema();
}

// Entry body length for a member whose schema body measured `child` bytes
// (0 exactly when the schema is the default one, which is left out).
std::size_t entry_size(std::string_view name, std::size_t child) noexcept {
  return (name.empty() ? 0 : delimited_size(kEntryNameKey, name.size())) +
         (child == 0 ? 0 : delimited_size(kEntrySchemaKey, child));
}

char* write_key(char* out, std::uint32_t key) noexcept { return write_varint(out, key); }

// Puts the members in name order, the last member of a name winning.
void order_properties(JsonSchema& s) {
  auto* first = s.properties;
  auto* last = s.properties + s.property_count;
  auto less = [](const SchemaProperty& a, const SchemaProperty& b) { return a.name < b.name; };
  auto strictly = [](const SchemaProperty& a, const SchemaProperty& b) { return !(a.name < b.name); };
  if (std::adjacent_find(first, last, strictly) == last) return;  // already ascending, unique
  std::stable_sort(first, last, less);
  std::size_t w = 0;
  for (std::size_t i = 0; i < s.property_count; ++i) {
    if (i + 1 < s.property_count && first[i + 1].name == first[i].name) continue;
    first[w++] = first[i];
  }
  s.property_count = w;
}

class Decoder {
 public:
  Decoder(Arena& arena, DecodeError& e) : arena_(arena), e_(e) {}

  // Fields of a schema at `level`, up to `end`, merged into `s`.
  bool body(WireReader& r, const unsigned char* end, int level, JsonSchema& s) {
    const std::size_t base = scratch_.size();
    while (r.p < end) {
      std::uint32_t field;
      unsigned wt;
      if (!read_key(r, field, wt, e_)) return false;
      std::uint64_t v;
      switch (field) {
        case 1:
          if (!expect_wire_type(wt, kVarint, e_) || !read_varint(r, v, e_)) return within("r#type");
          s.type = low32(v);
          break;
        case 2:
          if (!expect_wire_type(wt, kLengthDelimited, e_) || !entry(r, level)) return within("properties");
          break;
        case 3: {
          const unsigned char* items_end;
          if (!expect_wire_type(wt, kLengthDelimited, e_) || !enter_message(r, level, items_end, e_))
            return within("items");
          if (s.items == nullptr) s.items = new_schema(arena_);
          if (!body(r, items_end, level + 1, *s.items) || !leave_message(r, items_end, e_))
            return within("items");
          break;
        }
        case 4:
          if (!expect_wire_type(wt, kVarint, e_) || !read_varint(r, v, e_)) return within("encoding");
          s.encoding = low32(v);
          break;
        case 5:
          if (!expect_wire_type(wt, kVarint, e_) || !read_varint(r, v, e_)) return within("decoded_type");
          s.decoded_type = low32(v);
          break;
        case 6: {
          double d;
          if (!expect_wire_type(wt, kSixtyFourBit, e_) || !read_fixed64(r, d, e_))
            return within("match_importance");
          s.match_importance = d;
          break;
        }
        default:
          if (!skip_field(r, field, wt, level, e_)) return false;
      }
    }
    append_properties(s, base);
    return true;
  }

 private:
  bool within(const char* field) {
    e_.within("JsonSchema", field);
    return false;
  }

  // One properties entry of a schema at `level`: the name (field 1) and the
  // member's schema (field 2) in any order, each possibly repeated.
  bool entry(WireReader& r, int level) {
    const unsigned char* end;
    if (!enter_message(r, level, end, e_)) return false;
    SchemaProperty p;
    while (r.p < end) {
      std::uint32_t field;
      unsigned wt;
      if (!read_key(r, field, wt, e_)) return false;
      if (field == 1) {
        if (!expect_wire_type(wt, kLengthDelimited, e_) || !read_string(r, p.name, e_)) return false;
      } else if (field == 2) {
        const unsigned char* schema_end;
        if (!expect_wire_type(wt, kLengthDelimited, e_) || !enter_message(r, level + 1, schema_end, e_) ||
            !body(r, schema_end, level + 2, p.schema) || !leave_message(r, schema_end, e_))
          return false;
      } else if (!skip_field(r, field, wt, level + 1, e_)) {
        return false;
      }
    }
    if (!leave_message(r, end, e_)) return false;
    // A later entry of the same name replaces this one, so nothing merges
    // into the member's schema any more.
    finish_schema(p.schema);
    scratch_.push_back(p);
    return true;
  }

  // Moves the entries read since `base` behind the members `s` already has.
  // The array grows geometrically, so members of many occurrences of one
  // schema are appended in linear time overall.
  void append_properties(JsonSchema& s, std::size_t base) {
    const std::size_t added = scratch_.size() - base;
    if (added == 0) return;
    const std::size_t count = s.property_count + added;
    if (count > s.property_capacity) {
      std::size_t cap = s.property_count == 0 ? added : std::max(count, 2 * s.property_capacity);
      auto* grown = arena_.allocate_array<SchemaProperty>(cap);
      std::uninitialized_copy_n(s.properties, s.property_count, grown);
      s.properties = grown;
      s.property_capacity = cap;
    }
    std::uninitialized_copy_n(scratch_.data() + base, added, s.properties + s.property_count);
    s.property_count = count;
    scratch_.resize(base);
  }

  Arena& arena_;
  DecodeError& e_;
  std::vector<SchemaProperty> scratch_;
};

}  // namespace

JsonSchema json_to_json_schema(const json::JsonValue& value, Arena& arena) {
  JsonSchema s;
  if (!value.is_object()) return s;
  for (const json::JsonMember& m : value.members()) {
    const std::string_view n = m.name;
    const json::JsonValue& v = m.value;
    if (n == "type") {
      s.type = int_code(v).value_or(0);
    } else if (n == "properties") {
      if (!v.is_object() || v.size() == 0) continue;
      auto* props = arena.allocate_array<SchemaProperty>(v.size());
      std::size_t i = 0;
      for (const json::JsonMember& p : v.members())
        ::new (&props[i++]) SchemaProperty{p.name, json_to_json_schema(p.value, arena)};
      s.properties = props;
      s.property_count = s.property_capacity = v.size();
    } else if (n == "items") {
      s.items = new_schema(arena);
      *s.items = json_to_json_schema(v, arena);
    } else if (n == "encoding") {
      s.encoding = int_code(v);
    } else if (n == "decoded_type") {
      s.decoded_type = int_code(v);
    } else if (n == "match_importance") {
      if (v.is_number()) s.match_importance = v.to_double();
    }
  }
  return s;
}

std::size_t measure_schema(const JsonSchema& s, std::vector<std::size_t>& sizes) {
  const std::size_t slot = sizes.size();
  sizes.push_back(0);
  std::size_t total = 0;
  if (s.type != 0) total += 1 + varint_size(int32_wire(s.type));
  for (const SchemaProperty& p : s.members())
    total += delimited_size(kPropertiesKey, entry_size(p.name, measure_schema(p.schema, sizes)));
  if (s.items != nullptr) total += delimited_size(kItemsKey, measure_schema(*s.items, sizes));
  if (s.encoding) total += 1 + varint_size(int32_wire(*s.encoding));
  if (s.decoded_type) total += 1 + varint_size(int32_wire(*s.decoded_type));
  if (s.match_importance) total += 9;
  sizes[slot] = total;
  return total;
}

char* write_schema(const JsonSchema& s, const std::size_t*& cursor, char* out) {
  ++cursor;  // this body's own length, written by the caller
  if (s.type != 0) {
    out = write_key(out, kTypeKey);
    out = write_varint(out, int32_wire(s.type));
  }
  for (const SchemaProperty& p : s.members()) {
    const std::size_t child = *cursor;
    out = write_key(out, kPropertiesKey);
    out = write_varint(out, entry_size(p.name, child));
    if (!p.name.empty()) {
      out = write_key(out, kEntryNameKey);
      out = write_varint(out, p.name.size());
      out = write_bytes(out, p.name);
    }
    if (child == 0) {
      ++cursor;  // the default schema: nothing below it was measured
    } else {
      out = write_key(out, kEntrySchemaKey);
      out = write_varint(out, child);
      out = write_schema(p.schema, cursor, out);
    }
  }
  if (s.items != nullptr) {
    out = write_key(out, kItemsKey);
    out = write_varint(out, *cursor);
    out = write_schema(*s.items, cursor, out);
  }
  if (s.encoding) {
    out = write_key(out, kEncodingKey);
    out = write_varint(out, int32_wire(*s.encoding));
  }
  if (s.decoded_type) {
    out = write_key(out, kDecodedTypeKey);
    out = write_varint(out, int32_wire(*s.decoded_type));
  }
  if (s.match_importance) {
    out = write_key(out, kMatchImportanceKey);
    out = write_fixed64(out, *s.match_importance);
  }
  return out;
}

bool decode_schema_body(WireReader& r, const unsigned char* body_end, int level, JsonSchema& schema,
                        Arena& arena, DecodeError& e) {
  Decoder d(arena, e);
  return d.body(r, body_end, level, schema);
}

void finish_schema(JsonSchema& schema) {
  for (JsonSchema* s = &schema; s != nullptr; s = s->items) order_properties(*s);
}

}  // namespace quarn::proto
