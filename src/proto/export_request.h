// The export spans request: a batch of span encodings decoded and written
// again inside one ExportSpansRequest.
#pragma once

#include <span>
#include <string_view>

#include "base/arena.h"
#include "base/result.h"
#include "proto/span.h"

namespace quarn::proto {

// Decodes every span in order; the first that fails gives the Serialization
// error "failed to decode span proto bytes: " followed by the decoder's
// text. The request refers to the four texts and to the span bytes, which
// must outlive it; decoded records live in `arena`. Encode the result with
// measure_export_spans_request and write_export_spans_request.
Result<ExportSpansRequest> decode_export_spans(std::string_view observable_service_id,
                                               std::string_view environment, std::string_view sdk_version,
                                               std::string_view sdk_instance_id,
                                               std::span<const std::string_view> spans, Arena& arena);

}  // namespace quarn::proto
