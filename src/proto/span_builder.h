// The span builder: one Span from the already-converted arguments of
// build_span_proto_bytes_pyobject (texts, codes, flags, times, JSON values of
// schemas, metadata and values, and optional finished Struct bytes).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/arena.h"
#include "base/result.h"
#include "json/value.h"
#include "proto/span.h"

namespace quarn::proto {

struct SpanArguments {
  std::string_view trace_id;
  std::string_view span_id;
  std::string_view parent_span_id;
  std::string_view name;
  std::string_view package_name;
  std::string_view instrumentation_name;
  std::string_view submodule_name;
  std::int32_t package_type = 0;
  std::optional<std::string_view> environment;
  std::int32_t kind = 0;
  json::JsonValue input_schema;  // JSON null for None
  json::JsonValue output_schema;
  std::string_view input_schema_hash;
  std::string_view output_schema_hash;
  std::string_view input_value_hash;
  std::string_view output_value_hash;
  std::int32_t status_code = 0;
  std::string_view status_message;
  bool is_pre_app_start = false;
  bool is_root_span = false;
  std::int64_t timestamp_seconds = 0;
  std::int32_t timestamp_nanos = 0;
  std::int64_t duration_seconds = 0;
  std::int32_t duration_nanos = 0;
  std::optional<json::JsonValue> metadata;  // absent for None
  std::optional<json::JsonValue> input_value;
  std::optional<json::JsonValue> output_value;
  std::optional<std::string_view> input_value_struct_bytes;  // finished Struct bytes, absent for None
  std::optional<std::string_view> output_value_struct_bytes;
};

// A classification code out of range: raised as ValueError with `message`
// exactly ("invalid kind enum: 99"), no prefix.
struct InvalidEnum {
  std::string message;
};
using SpanBuildError = std::variant<InvalidEnum, ModuleError>;

// Checks package_type (0..11), kind (0..5) and status_code (0..2) in that
// order, builds input_value and output_value (finished Struct bytes win over
// the JSON value, also when empty; bytes that do not decode give the
// Serialization error with the decoder's text), metadata and both schemas,
// and fills the Span. Every message field is present; `id` is absent. The
// Span refers to the arguments' strings, JSON values and bytes, which must
// outlive it; decoded records live in `arena`.
Result<Span, SpanBuildError> build_span(const SpanArguments& args, Arena& arena);

}  // namespace quarn::proto
