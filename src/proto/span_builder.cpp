#include "proto/span_builder.h"

#include "proto/verbatim.h"

namespace quarn::proto {

namespace {

[[gnu::cold]] SpanBuildError fail_enum(const char* field, std::int32_t value) {
  return InvalidEnum{msg::kInvalidEnumHead + std::string(field) + msg::kInvalidEnumTail +
                     std::to_string(value)};
}

// Codes are compared as unsigned, so every negative value is out of range.
bool in_range(std::int32_t v, std::uint32_t count) noexcept { return static_cast<std::uint32_t>(v) < count; }

// The value rule: finished bytes win (decoded and written again), then the
// JSON value, then the empty Struct.
Result<StructContent, SpanBuildError> value_field(const std::optional<std::string_view>& bytes,
                                                  const std::optional<json::JsonValue>& value, Arena& arena) {
  if (bytes) {
    // Bytes this module wrote (payload processing's Struct bytes) decode and
    // encode to themselves: they are copied.
    if (is_verbatim_struct(*bytes, 0)) return StructContent::from_verbatim(*bytes);
    auto st = decode_protobuf_struct(*bytes, arena);
    if (!st) return SpanBuildError(serialization_error(st.error().text()));
    return StructContent{*st, std::nullopt, std::nullopt};
  }
  if (value) return StructContent::from_json(*value);
  return StructContent{};
}

}  // namespace

Result<Span, SpanBuildError> build_span(const SpanArguments& a, Arena& arena) {
  if (!in_range(a.package_type, 12)) return fail_enum("package_type", a.package_type);
  if (!in_range(a.kind, 6)) return fail_enum("kind", a.kind);
  if (!in_range(a.status_code, 3)) return fail_enum("status_code", a.status_code);

  Span s;
  auto input = value_field(a.input_value_proto_struct_bytes, a.input_value, arena);
  if (!input) return std::move(input).error();
  s.input_value = *input;
  auto output = value_field(a.output_value_proto_struct_bytes, a.output_value, arena);
  if (!output) return std::move(output).error();
  s.output_value = *output;
  s.metadata = a.metadata ? StructContent::from_json(*a.metadata) : StructContent{};
  s.input_schema = json_to_json_schema(a.input_schema, arena);
  s.output_schema = json_to_json_schema(a.output_schema, arena);

  s.status = SpanStatus{a.status_code, a.status_message};
  s.timestamp = Timestamp{a.timestamp_seconds, a.timestamp_nanos};
  s.duration = Duration{a.duration_seconds, a.duration_nanos};
  // Arguments that are a Span field of the same name as they are.
#define QUARN_SPAN_ARGUMENT_copy(member) s.member = a.member;
#define QUARN_SPAN_ARGUMENT_built(member)
#define QUARN_SPAN_ARGUMENT(member, kind, use) QUARN_SPAN_ARGUMENT_##use(member)
  QUARN_SPAN_ARGUMENTS(QUARN_SPAN_ARGUMENT)
#undef QUARN_SPAN_ARGUMENT
#undef QUARN_SPAN_ARGUMENT_built
#undef QUARN_SPAN_ARGUMENT_copy
  return s;
}

}  // namespace quarn::proto
