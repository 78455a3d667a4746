// The bodies of the three canonical-text functions of the module.
#pragma once

#include <string_view>
#include <utility>

#include "base/buffer.h"
#include "base/result.h"
#include "json/hash.h"
#include "json/value.h"

namespace quarn::json {

// Parses `text` and normalizes the value: the value that the document's
// canonical text describes. Storage goes to `arena`; strings may refer to
// `text`, which must outlive the value.
Result<JsonValue> parse_normalized(std::string_view text, Arena& arena);

// Parse, normalize, print: the canonical text of a JSON document. InvalidJson
// when the text does not parse; Serialization when the read-back fails.
Result<Buffer> canonical_json_text(std::string_view text);

// The hash of the document's canonical text (same failures).
Result<HashText> deterministic_hash(std::string_view text);

// Canonical text and its hash from one parse and one print.
Result<std::pair<Buffer, HashText>> normalize_and_hash(std::string_view text);

}  // namespace quarn::json
