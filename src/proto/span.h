// Span, SpanStatus, Timestamp, Duration and ExportSpansRequest: plain records
// and their codec.
//
// Records do not own their bytes: strings refer to the input that was
// decoded or to text the caller keeps alive, and Struct and JsonSchema
// children live in a Arena. Encoding is two-pass: `measure_*` computes
// the exact length and the length of every nested body once, in pre-order;
// `write_*` fills exactly that many bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/arena.h"
#include "base/buffer.h"
#include "base/result.h"
#include "json/value.h"
#include "proto/schema.h"
#include "proto/span_fields.h"
#include "proto/struct.h"
#include "proto/wire.h"

namespace quarn::proto {

// google.protobuf.Timestamp / Duration, stored and written as given (no
// normalization or range check of nanos).
struct Timestamp {
  std::int64_t seconds = 0;
  std::int32_t nanos = 0;
};
struct Duration {
  std::int64_t seconds = 0;
  std::int32_t nanos = 0;
};

struct SpanStatus {
  std::int32_t code = 0;
  std::string_view message;
};

// The content of a Struct-typed field: decoded Struct records, or a JSON
// value written exactly as json_to_protobuf_struct of it would be (a
// non-object is the empty Struct) without building the records.
struct StructContent {
  Struct records;
  std::optional<json::JsonValue> json;  // when set, `records` is not used
  // When set, a Struct encoding already in written form (see
  // proto/verbatim.h), copied as it is; `records` and `json` are not used.
  std::optional<std::string_view> verbatim;

  static StructContent from_json(const json::JsonValue& v) {
    return StructContent{Struct{}, v, std::nullopt};
  }
  static StructContent from_verbatim(std::string_view bytes) {
    return StructContent{Struct{}, std::nullopt, bytes};
  }
};

// The C++ type of each kind of Span field (proto/span_fields.h). Scalars are
// absent when empty, 0 or false; the others carry presence.
namespace span_field {
using string = std::string_view;
using code = std::int32_t;
using flag = bool;
using value = std::optional<StructContent>;
using schema = std::optional<JsonSchema>;
using status = std::optional<SpanStatus>;
using timestamp = std::optional<Timestamp>;
using duration = std::optional<Duration>;
using opt_string = std::optional<std::string_view>;
}  // namespace span_field

// The Span message: one member per row of QUARN_SPAN_FIELDS, in field order.
struct Span {
#define QUARN_SPAN_FIELD(number, member, kind) span_field::kind member{};
  QUARN_SPAN_FIELDS(QUARN_SPAN_FIELD)
#undef QUARN_SPAN_FIELD
  // When set, the whole Span as bytes already in written form (see
  // proto/verbatim.h): the encoder copies them and ignores the fields.
  std::optional<std::string_view> verbatim;
};

// Fields are numbered 1 to kSpanFieldCount, in the table's order.
#define QUARN_SPAN_FIELD(number, member, kind) +1  // NOLINT(bugprone-macro-parentheses): a term of a sum
inline constexpr std::uint32_t kSpanFieldCount = 0 QUARN_SPAN_FIELDS(QUARN_SPAN_FIELD);
#undef QUARN_SPAN_FIELD
static_assert([] {
  std::uint32_t next = 1;
  bool in_order = true;
#define QUARN_SPAN_FIELD(number, member, kind) in_order = in_order && (number) == next++;
  QUARN_SPAN_FIELDS(QUARN_SPAN_FIELD)
#undef QUARN_SPAN_FIELD
  return in_order;
}());

struct ExportSpansRequest {
  std::string_view observable_service_id;
  std::string_view environment;
  std::string_view sdk_version;
  std::string_view sdk_instance_id;
  std::vector<Span> spans;
};

// A message measured for writing: its exact encoded length and the lengths
// of its nested bodies in the order the writer consumes them.
struct Measured {
  std::size_t total = 0;
  std::vector<std::size_t> sizes;
};

// Encoding: fields in ascending number; strings, codes and flags left out
// when empty, 0 or false; message fields and optional strings written
// whenever present. `write_*` writes exactly `m.total` bytes at `out`.
Measured measure_span(const Span& span);
void write_span(const Span& span, const Measured& m, char* out);
Measured measure_export_spans_request(const ExportSpansRequest& request);
void write_export_spans_request(const ExportSpansRequest& request, const Measured& m, char* out);

// Decodes a whole input as a Span (level 0), starting from the default Span:
// fields in any order, a later string replaces an earlier one, repeated
// message fields merge, unknown fields and groups are skipped, nesting is
// limited to 100 levels. Strings refer to `bytes`, which must outlive the
// result; Struct and schema children are allocated in `arena`.
Result<Span, DecodeError> decode_span(std::string_view bytes, Arena& arena);

}  // namespace quarn::proto
