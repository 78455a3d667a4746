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
  // proto/canonical.h), copied as it is; `records` and `json` are not used.
  std::optional<std::string_view> canonical;

  static StructContent from_json(const json::JsonValue& v) {
    return StructContent{Struct{}, v, std::nullopt};
  }
  static StructContent from_canonical(std::string_view bytes) {
    return StructContent{Struct{}, std::nullopt, bytes};
  }
};

struct Span {
  std::string_view trace_id;
  std::string_view span_id;
  std::string_view parent_span_id;
  std::string_view name;
  std::string_view package_name;
  std::string_view instrumentation_name;
  std::string_view submodule_name;
  std::int32_t package_type = 0;
  std::optional<StructContent> input_value;
  std::optional<StructContent> output_value;
  std::optional<JsonSchema> input_schema;
  std::optional<JsonSchema> output_schema;
  std::string_view input_schema_hash;
  std::string_view output_schema_hash;
  std::string_view input_value_hash;
  std::string_view output_value_hash;
  std::int32_t kind = 0;
  std::optional<SpanStatus> status;
  bool is_pre_app_start = false;
  std::optional<Timestamp> timestamp;
  std::optional<Duration> duration;
  bool is_root_span = false;
  std::optional<StructContent> metadata;
  std::optional<std::string_view> environment;
  std::optional<std::string_view> id;
  // When set, the whole Span as bytes already in written form (see
  // proto/canonical.h): the encoder copies them and ignores the fields.
  std::optional<std::string_view> canonical_encoding;
};

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
