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
#include "proto/span_fields.h"

namespace quarn::proto {

// The kinds of the builder's arguments (proto/span_fields.h).
enum class SpanArgumentKind : std::uint8_t { text, opt_text, int32, int64, flag, json, opt_json, opt_bytes };

// The C++ type of each kind.
namespace span_argument {
using text = std::string_view;
using opt_text = std::optional<std::string_view>;  // absent for None
using int32 = std::int32_t;
using int64 = std::int64_t;
using flag = bool;
using json = quarn::json::JsonValue;                     // JSON null for None
using opt_json = std::optional<quarn::json::JsonValue>;  // absent for None
using opt_bytes = std::optional<std::string_view>;       // finished Struct bytes, absent for None
}  // namespace span_argument

// The builder's arguments: one member per row of QUARN_SPAN_ARGUMENTS.
struct SpanArguments {
#define QUARN_SPAN_ARGUMENT(member, kind, use) span_argument::kind member{};
  QUARN_SPAN_ARGUMENTS(QUARN_SPAN_ARGUMENT)
#undef QUARN_SPAN_ARGUMENT
};

// Name and kind of each argument, in parameter order.
struct SpanArgument {
  const char* name;
  SpanArgumentKind kind;
};
inline constexpr SpanArgument kSpanArguments[] = {
#define QUARN_SPAN_ARGUMENT(member, kind, use) {#member, SpanArgumentKind::kind},
    QUARN_SPAN_ARGUMENTS(QUARN_SPAN_ARGUMENT)
#undef QUARN_SPAN_ARGUMENT
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
