#include "payload/export_payload.h"

#include <utility>

#include "json/parse.h"

namespace quarn::payload {

Result<ExportPayload> process_export_payload(std::string_view payload_json,
                                             std::optional<std::string_view> schema_merges_json) {
  ExportPayload out;
  out.arena = Arena(payload_json.size() + 256);
  // Strings borrow from the payload text, which outlives this call's values.
  Result<json::JsonValue> payload = json::parse_json(payload_json, out.arena, json::StringStorage::Borrow);
  if (!payload) return std::move(payload).error();
  // The canonical text is about as long as the text it came from.
  Result<ProcessedPayload> r =
      process_payload_value(*payload, schema_merges_json, out.arena,
                            PayloadOptions{.texts = true, .text_size_hint = payload_json.size()});
  if (!r) return std::move(r).error();
  out.texts = std::move(r->texts);
  out.value_hash = r->value_hash;
  out.schema_hash = r->schema_hash;
  out.normalized = r->normalized_payload;
  return out;
}

}  // namespace quarn::payload
