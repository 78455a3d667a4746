// JsonSchema: the protocol-buffer form of a value's schema. A plain recursive
// record whose children (the `items` schema, the `properties` members) live
// in a Arena, built from the schema's JSON form or decoded from bytes,
// and written by a two-pass encoder.
//
// Properties are kept sorted by name in ascending byte order with unique
// names, and are written in that order, so equal schemas give equal bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/arena.h"
#include "json/value.h"
#include "proto/wire.h"

namespace quarn::proto {

struct SchemaProperty;

struct JsonSchema {
  std::int32_t type = 0;
  // Sorted by name, unique names. `property_capacity` is the room of the
  // array (the decoder appends members of later occurrences in place).
  SchemaProperty* properties = nullptr;
  std::size_t property_count = 0;
  std::size_t property_capacity = 0;
  JsonSchema* items = nullptr;  // absent when null; owned through the arena
  std::optional<std::int32_t> encoding;
  std::optional<std::int32_t> decoded_type;
  std::optional<double> match_importance;

  inline std::span<const SchemaProperty> members() const noexcept;
  // True for the default schema: type 0, no properties, every optional field
  // and `items` absent.
  bool is_default() const noexcept {
    return type == 0 && property_count == 0 && items == nullptr && !encoding && !decoded_type &&
           !match_importance;
  }
};

struct SchemaProperty {
  std::string_view name;
  JsonSchema schema;
};

inline std::span<const SchemaProperty> JsonSchema::members() const noexcept {
  return {properties, property_count};
}

// The schema's JSON form -> JsonSchema. A non-object gives the default
// schema; `type`, `encoding` and `decoded_type` take integers that fit in a
// signed 64-bit integer, reduced to their low 32 bits (doubles such as 2.0
// do not count); `match_importance` takes any number as a double; `items` is
// present whenever the member exists; `properties` takes an object's
// members. Names refer to the JSON value's storage; children are allocated
// in `arena`. Recurses once per nesting level: the caller bounds the depth
// of `value` (the object bridge and the JSON parser both do).
JsonSchema json_to_json_schema(const json::JsonValue& value, Arena& arena);

// Two-pass encoding of a schema body. `measure_schema` returns the body's
// length and records the body length of every schema below it in pre-order
// in `sizes`, its own first; `write_schema` writes the body at `out`, taking
// those lengths from `cursor`. A property whose schema is the default one
// is written without it, a property with an empty name without the name.
std::size_t measure_schema(const JsonSchema& schema, std::vector<std::size_t>& sizes);
char* write_schema(const JsonSchema& schema, const std::size_t*& cursor, char* out);

// Decodes a JsonSchema body from `r` up to `body_end`, merging into `schema`
// (fields overwrite, properties are added or replaced, items merge).
// `level` is the schema's own nesting level. Call `finish_schema` once the
// schema can receive no more occurrences: it puts the properties in order
// (the last member of a name wins) throughout the items chain below it.
// Names refer to the input bytes, which must outlive the result.
bool decode_schema_body(WireReader& r, const unsigned char* body_end, int level, JsonSchema& schema,
                        Arena& arena, DecodeError& e);
void finish_schema(JsonSchema& schema);

}  // namespace quarn::proto
