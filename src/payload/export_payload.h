// The body of the module function process_export_payload: a payload and
// optional schema merges, both as JSON text, to the six results.
#pragma once

#include <optional>
#include <string_view>

#include "base/arena.h"
#include "base/buffer.h"
#include "base/result.h"
#include "json/hash.h"
#include "payload/process.h"

namespace quarn::payload {

struct ExportPayload {
  PrintedPayload texts;  // canonical texts: normalized, merged, schema
  HashText value_hash;   // hash of the merged text
  HashText schema_hash;  // hash of the schema text
  // The normalized payload, for its Struct encoding (proto/struct.h:
  // measure_json_struct / write_json_struct), which the caller writes
  // straight into its result. It refers to `arena` and to the payload text.
  Arena arena;
  json::JsonValue normalized;

  std::string_view normalized_text() const noexcept { return texts.normalized.view(); }
  std::string_view merged_text() const noexcept { return texts.merged_text(); }
  std::string_view schema_text() const noexcept { return texts.schema.view(); }
};

// Parses `payload_json` (InvalidJson with the parser's message on failure),
// then runs process_payload_value with `schema_merges_json` (absent: no
// rules) and returns its results, the values as canonical text. The payload
// is checked before the rules. `payload_json` must outlive the result.
Result<ExportPayload> process_export_payload(std::string_view payload_json,
                                             std::optional<std::string_view> schema_merges_json);

}  // namespace quarn::payload
