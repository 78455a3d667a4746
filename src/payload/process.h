// The payload processing core shared by both export payload entry points.
//
// From one payload and optional schema merges it produces the normalized
// payload, the payload with its top-level encoded members decoded by the
// merge rules (the merged payload), the schema of the merged payload, the
// hashes of the merged payload and of the schema, and the payload's
// google.protobuf.Struct bytes.
#pragma once

#include <optional>
#include <string_view>

#include "json/buffer.h"
#include "json/hash.h"
#include "json/value.h"
#include "module/error.h"

namespace quarn::payload {

struct ProcessedPayload {
  json::HashText value_hash;     // hash of merged_payload
  json::HashText schema_hash;    // hash of schema
  json::Buffer struct_bytes;     // Struct encoding of normalized_payload (empty unless an object)
  json::JsonValue normalized_payload;
  json::JsonValue merged_payload;
  json::JsonValue schema;
};

// Runs normalization, merge rules, member decoding, schema derivation, both
// hashes and the Struct encoding, in that order; the first failure ends it.
// `payload`'s storage must live in `arena` or outlive the result; the three
// values of the result keep their storage in `arena`. Absent
// `schema_merges_text` means no rules.
Result<ProcessedPayload> process_payload_value(const json::JsonValue& payload,
                                               std::optional<std::string_view> schema_merges_text,
                                               json::Arena& arena);

}  // namespace quarn::payload
