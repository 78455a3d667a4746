// google.protobuf.Struct, Value and ListValue: conversion from JSON values,
// exactly sized encoding, and decoding of untrusted bytes.
//
// Records live in a Arena, like JSON values. A Struct's fields are kept
// sorted by key in ascending byte order with unique keys, so encoding and
// counting see them in that order. A decoded Value may hold no kind at all;
// values converted from JSON always hold one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/arena.h"
#include "base/buffer.h"
#include "base/result.h"
#include "json/value.h"
#include "proto/wire.h"

namespace quarn::proto {

struct Value;
struct StructField;

struct Struct {
  const StructField* data = nullptr;
  std::size_t size = 0;
  inline std::span<const StructField> fields() const noexcept;
};

struct ListValue {
  const Value* data = nullptr;
  std::size_t size = 0;
  inline std::span<const Value> values() const noexcept;
};

struct Value {
  enum class Kind : std::uint8_t { None, Null, Number, String, Bool, Struct, List };
  Kind kind = Kind::None;
  union {
    std::int32_t null_value;  // Kind::Null (the NullValue enum; 0 from JSON)
    double number_value;      // Kind::Number
    bool bool_value;          // Kind::Bool
    struct {
      const char* data;
      std::size_t size;
    } string_value;        // Kind::String
    Struct struct_value;   // Kind::Struct
    ListValue list_value;  // Kind::List
  };
  Value() noexcept : number_value(0) {}
  std::string_view string() const noexcept { return {string_value.data, string_value.size}; }
};

struct StructField {
  std::string_view key;
  Value value;
};

inline std::span<const StructField> Struct::fields() const noexcept { return {data, size}; }
inline std::span<const Value> ListValue::values() const noexcept { return {data, size}; }

// JSON object -> Struct (one field per member); any other JSON value gives an
// empty Struct. Strings are not copied: they refer to the JSON value's storage.
Struct json_to_protobuf_struct(const json::JsonValue& value, Arena& arena);
// JSON value -> Value: null -> null_value 0, booleans, numbers as the nearest
// double, strings, arrays -> list_value, objects -> struct_value.
Value json_to_protobuf_value(const json::JsonValue& value, Arena& arena);

// Two-pass encoding. `measure_struct` computes the encoded length of the
// Struct's body and records the lengths of nested bodies in `sizes` (in the
// order `write_struct` consumes them); `write_struct` writes the body at
// `out`, which must have room for the measured length, taking the recorded
// lengths from `cursor`. Used for Structs embedded in other messages.
std::size_t measure_struct(const Struct& st, std::vector<std::size_t>& sizes);
char* write_struct(const Struct& st, const std::size_t*& cursor, char* out);

// The same for the Struct that json_to_protobuf_struct(value) gives, without
// building the records: the JSON object is encoded directly (nothing for a
// non-object).
std::size_t measure_json_struct(const json::JsonValue& object, std::vector<std::size_t>& sizes);
char* write_json_struct(const json::JsonValue& object, const std::size_t*& cursor, char* out);

// A Struct being decoded from one or more bodies: a Struct field that occurs
// several times in its message merges all occurrences. Entries are appended
// in the order read, into an arena array that grows geometrically, so many
// occurrences cost linear time overall; `finish_struct` orders them once.
struct StructDraft {
  StructField* data = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;
  bool ordered = true;  // keys strictly ascending so far
};

// Decodes a Struct body from `r` up to `body_end`, appending its entries to
// `draft`. `level` is the nesting level of the Struct itself. Strings refer
// to the input bytes, which must outlive the result.
bool decode_struct_body(WireReader& r, const unsigned char* body_end, int level, StructDraft& draft,
                        Arena& arena, DecodeError& e);
// The merged Struct: entries sorted by key, the last entry of a key winning.
Struct finish_struct(StructDraft& draft);

// Decodes a whole input as a Struct (level 0). Unknown fields are skipped; a
// missing key is the empty key, a missing value a Value with no kind.
Result<Struct, DecodeError> decode_protobuf_struct(std::string_view bytes, Arena& arena);

// The body of object_to_protobuf_struct_field_count: parse, normalize, count
// the top-level members. InvalidJson / Serialization errors as the parser
// gives them.
Result<std::uint32_t> object_to_protobuf_struct_field_count(std::string_view payload_json);

}  // namespace quarn::proto
