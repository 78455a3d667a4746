#include "proto/export_request.h"

#include "proto/verbatim.h"

namespace quarn::proto {

namespace {
[[gnu::cold]] ModuleError fail(const DecodeError& e) {
  return serialization_error(msg::kSpanDecodeFailed + e.text());
}
}  // namespace

Result<ExportSpansRequest> decode_export_spans(std::string_view observable_service_id,
                                               std::string_view environment, std::string_view sdk_version,
                                               std::string_view sdk_instance_id,
                                               std::span<const std::string_view> spans, Arena& arena) {
  ExportSpansRequest q;
  q.observable_service_id = observable_service_id;
  q.environment = environment;
  q.sdk_version = sdk_version;
  q.sdk_instance_id = sdk_instance_id;
  q.spans.reserve(spans.size());
  for (std::string_view bytes : spans) {
    // Spans in written form (those of the span builder) are copied as they are.
    if (is_verbatim_span(bytes)) {
      Span copied;
      copied.verbatim = bytes;
      q.spans.push_back(copied);
      continue;
    }
    auto span = decode_span(bytes, arena);
    if (!span) return fail(span.error());
    q.spans.push_back(*span);
  }
  return q;
}

}  // namespace quarn::proto
