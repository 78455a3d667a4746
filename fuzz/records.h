// Field-by-field equality of decoded records (doubles compared by their
// bits, as they travel on the wire), for the decode / encode / decode checks.
#pragma once

#include "common.h"
#include "proto/schema.h"
#include "proto/span.h"
#include "proto/struct.h"

namespace fuzzref {

bool same_struct(const quarn::proto::Struct& a, const quarn::proto::Struct& b);

inline bool same_value(const quarn::proto::Value& a, const quarn::proto::Value& b) {
  using K = quarn::proto::Value::Kind;
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case K::None: return true;
    case K::Null: return a.null_value == b.null_value;
    case K::Number: return same_bits(a.number_value, b.number_value);
    case K::String: return a.string() == b.string();
    case K::Bool: return a.bool_value == b.bool_value;
    case K::Struct: return same_struct(a.struct_value, b.struct_value);
    case K::List: {
      auto x = a.list_value.values(), y = b.list_value.values();
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i)
        if (!same_value(x[i], y[i])) return false;
      return true;
    }
  }
  return false;
}

inline bool same_struct(const quarn::proto::Struct& a, const quarn::proto::Struct& b) {
  auto x = a.fields(), y = b.fields();
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (x[i].key != y[i].key || !same_value(x[i].value, y[i].value)) return false;
  return true;
}

// Keys strictly ascending throughout.
inline bool struct_ordered(const quarn::proto::Struct& s);
inline bool value_ordered(const quarn::proto::Value& v) {
  using K = quarn::proto::Value::Kind;
  if (v.kind == K::Struct) return struct_ordered(v.struct_value);
  if (v.kind == K::List)
    for (const auto& e : v.list_value.values())
      if (!value_ordered(e)) return false;
  return true;
}
inline bool struct_ordered(const quarn::proto::Struct& s) {
  auto f = s.fields();
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (i > 0 && !(f[i - 1].key < f[i].key)) return false;
    if (!value_ordered(f[i].value)) return false;
  }
  return true;
}

template <class T>
bool same_optional_double(const std::optional<T>& a, const std::optional<T>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || same_bits(*a, *b);
}

inline bool same_schema(const quarn::proto::JsonSchema& a, const quarn::proto::JsonSchema& b) {
  if (a.type != b.type || a.encoding != b.encoding || a.decoded_type != b.decoded_type) return false;
  if (!same_optional_double(a.match_importance, b.match_importance)) return false;
  if ((a.items == nullptr) != (b.items == nullptr)) return false;
  if (a.items && !same_schema(*a.items, *b.items)) return false;
  auto x = a.members(), y = b.members();
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (x[i].name != y[i].name || !same_schema(x[i].schema, y[i].schema)) return false;
    if (i > 0 && !(x[i - 1].name < x[i].name)) return false;
  }
  return true;
}

// Content of a decoded Struct field: decoded records only.
inline bool same_content(const std::optional<quarn::proto::StructContent>& a,
                         const std::optional<quarn::proto::StructContent>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  FUZZ_CHECK(!a->json && !a->canonical && !b->json && !b->canonical);
  return same_struct(a->records, b->records);
}

template <class T>
bool same_optional_schema(const std::optional<T>& a, const std::optional<T>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || same_schema(*a, *b);
}

inline bool same_span(const quarn::proto::Span& a, const quarn::proto::Span& b) {
  return a.trace_id == b.trace_id && a.span_id == b.span_id && a.parent_span_id == b.parent_span_id &&
         a.name == b.name && a.package_name == b.package_name &&
         a.instrumentation_name == b.instrumentation_name && a.submodule_name == b.submodule_name &&
         a.package_type == b.package_type && same_content(a.input_value, b.input_value) &&
         same_content(a.output_value, b.output_value) &&
         same_optional_schema(a.input_schema, b.input_schema) &&
         same_optional_schema(a.output_schema, b.output_schema) &&
         a.input_schema_hash == b.input_schema_hash && a.output_schema_hash == b.output_schema_hash &&
         a.input_value_hash == b.input_value_hash && a.output_value_hash == b.output_value_hash &&
         a.kind == b.kind && a.status.has_value() == b.status.has_value() &&
         (!a.status || (a.status->code == b.status->code && a.status->message == b.status->message)) &&
         a.is_pre_app_start == b.is_pre_app_start && a.timestamp.has_value() == b.timestamp.has_value() &&
         (!a.timestamp ||
          (a.timestamp->seconds == b.timestamp->seconds && a.timestamp->nanos == b.timestamp->nanos)) &&
         a.duration.has_value() == b.duration.has_value() &&
         (!a.duration ||
          (a.duration->seconds == b.duration->seconds && a.duration->nanos == b.duration->nanos)) &&
         a.is_root_span == b.is_root_span && same_content(a.metadata, b.metadata) &&
         a.environment == b.environment && a.id == b.id && !a.canonical_encoding && !b.canonical_encoding;
}

}  // namespace fuzzref
