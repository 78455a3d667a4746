// Normalization: a value as it reads back from its own canonical text.
#pragma once

#include "base/result.h"
#include "json/value.h"

namespace quarn::json {

// The value that `parse_json(print_json(value))` gives. Printing and parsing
// again keeps everything but some doubles, whose shortest digits read back as
// a neighbouring double, so the result shares every unchanged sub-tree with
// `value` and only rebuilds the containers above a moved double. A read-back
// failure (a value nested deeper than the parser allows, or a double whose
// digits read back out of range) is a Serialization error with the parser's
// message and its position in the printed text. New storage goes to `arena`,
// which must also hold (or outlive) `value`'s storage.
Result<JsonValue> normalize_value(const JsonValue& value, Arena& arena);

}  // namespace quarn::json
