// The payload processing core shared by both export payload entry points.
//
// From one payload and optional schema merges it produces the normalized
// payload, the payload with its top-level encoded members decoded by the
// merge rules (the merged payload), the schema of the merged payload, and the
// hashes of the merged payload and of the schema. The payload's
// google.protobuf.Struct bytes are the callers' to write (proto/struct.h
// measure_json_struct / write_json_struct of the normalized payload), straight
// into their result objects.
//
// A schema is an object {"properties":{...},"type":T} with "items" (the schema
// of an array's first element) for non-empty arrays and, on top-level
// properties named by a rule, the rule's "encoding", "decoded_type" and
// (finite) "match_importance". T is 1 number, 2 string, 3 boolean, 4 null,
// 6 object, 7 array.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "base/buffer.h"
#include "base/result.h"
#include "json/hash.h"
#include "json/value.h"
#include "payload/merge_rules.h"

namespace quarn::payload {

// The canonical texts of the three values of a ProcessedPayload, for callers
// that return them as text. When decoding changed nothing, the merged text is
// the normalized text and is not printed twice.
struct PrintedPayload {
  Buffer normalized;
  Buffer merged;  // empty when `merged_is_normalized`
  Buffer schema;
  bool merged_is_normalized = false;

  std::string_view merged_text() const noexcept {
    return merged_is_normalized ? normalized.view() : merged.view();
  }
};

// What the core computes beside the three values and the two hashes.
struct PayloadOptions {
  // Also print the three canonical texts into the result; the hashes are
  // then taken over those texts. Without it each hash is digested while its
  // text is printed in pieces, and no text is kept.
  bool texts = false;
  // With `texts`: the expected length of the normalized text, reserved up
  // front.
  std::size_t text_size_hint = 0;
};

struct ProcessedPayload {
  HashText value_hash;   // hash of merged_payload
  HashText schema_hash;  // hash of schema
  json::JsonValue normalized_payload;
  json::JsonValue merged_payload;
  json::JsonValue schema;
  PrintedPayload texts;  // empty unless PayloadOptions::texts
};

// Runs normalization, merge rules, member decoding, schema derivation and
// both hashes, in that order; the first failure ends it: a Serialization
// error when the payload does not read back from its own text, the
// InvalidJson error of parse_schema_merges for bad rules. `payload`'s storage
// must live in `arena` or outlive the result; the three values of the result
// keep their storage in `arena` (and share sub-trees with `payload`). Absent
// `schema_merges_text` means no rules. The hashes are those of the values'
// canonical texts however they are computed (see PayloadOptions).
Result<ProcessedPayload> process_payload_value(const json::JsonValue& payload,
                                               std::optional<std::string_view> schema_merges_text,
                                               Arena& arena, const PayloadOptions& options = {});

// `value` with the top-level members named by `merges` decoded: a rule with
// encoding 1 turns a strict Base64 string into its bytes read as lossy UTF-8,
// then a rule with decoded_type 1 turns a string that parses as one JSON
// document into that value. A failed decode or parse keeps the string; other
// members and non-objects are returned as they are. Cannot fail. New storage
// goes to `arena`; the result shares everything unchanged with `value`, and
// `value`'s storage must outlive it.
json::JsonValue decode_payload_fields(const json::JsonValue& value, const SchemaMerges& merges, Arena& arena);

// The schema of `value`. `merges` (may be null) annotates the properties of a
// top-level object only. Cannot fail; recurses once per nesting level of
// `value`. Storage goes to `arena`; member names are shared with `value`.
json::JsonValue derive_schema(const json::JsonValue& value, const SchemaMerges* merges, Arena& arena);

}  // namespace quarn::payload
