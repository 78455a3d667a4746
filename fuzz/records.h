// Field-by-field equality of decoded records (doubles compared by their
// bits, as they travel on the wire), for the decode / encode / decode checks.
#pragma once

#include <string_view>

#include "base/buffer.h"
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
  FUZZ_CHECK(!a->json && !a->verbatim && !b->json && !b->verbatim);
  return same_struct(a->records, b->records);
}

template <class T>
bool same_optional_schema(const std::optional<T>& a, const std::optional<T>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || same_schema(*a, *b);
}

// One Span field of each kind, chosen by its type.
inline bool same_field(std::string_view a, std::string_view b) { return a == b; }
inline bool same_field(std::int32_t a, std::int32_t b) { return a == b; }
inline bool same_field(bool a, bool b) { return a == b; }
inline bool same_field(const std::optional<std::string_view>& a, const std::optional<std::string_view>& b) {
  return a == b;
}
inline bool same_field(const std::optional<quarn::proto::StructContent>& a,
                       const std::optional<quarn::proto::StructContent>& b) {
  return same_content(a, b);
}
inline bool same_field(const std::optional<quarn::proto::JsonSchema>& a,
                       const std::optional<quarn::proto::JsonSchema>& b) {
  return same_optional_schema(a, b);
}
inline bool same_field(const std::optional<quarn::proto::SpanStatus>& a,
                       const std::optional<quarn::proto::SpanStatus>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->code == b->code && a->message == b->message);
}
template <class Time>  // Timestamp, Duration
bool same_field(const std::optional<Time>& a, const std::optional<Time>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->seconds == b->seconds && a->nanos == b->nanos);
}

// Decoded Spans (never in written form) with equal fields.
inline bool same_span(const quarn::proto::Span& a, const quarn::proto::Span& b) {
  bool same = !a.verbatim && !b.verbatim;
#define QUARN_SPAN_FIELD(number, member, kind) same = same && same_field(a.member, b.member);
  QUARN_SPAN_FIELDS(QUARN_SPAN_FIELD)
#undef QUARN_SPAN_FIELD
  return same;
}

// The decode / encode / decode checks of `first`, decoded from `bytes`: its
// encoding decodes to an equal record, which encodes to the same bytes again;
// the encoding is in written form (`verbatim`), and bytes that were already
// in written form (`canonical`) are exactly their encoding. Returns the
// encoding.
template <class Record, class Decode, class Encode, class Same, class Verbatim>
quarn::Buffer check_reencoding(std::string_view bytes, bool canonical, const Record& first, Decode&& decode,
                               Encode&& encode, Same&& same, Verbatim&& verbatim) {
  quarn::Buffer encoded = encode(first);
  if (canonical) FUZZ_CHECK(encoded.view() == bytes);
  auto second = decode(encoded.view());
  FUZZ_CHECK(second);
  FUZZ_CHECK(same(first, *second));
  quarn::Buffer again = encode(*second);
  FUZZ_CHECK(again.view() == encoded.view());
  FUZZ_CHECK(verbatim(encoded.view()));
  return encoded;
}

}  // namespace fuzzref
