// The module's one JSON parser.
#pragma once

#include <string_view>

#include "base/result.h"
#include "json/reader.h"
#include "json/value.h"

namespace quarn::json {

// How string contents reach the parsed value.
enum class StringStorage {
  Copy,    // every string is copied into the arena
  Borrow,  // strings without escapes point into `text`, which must then
           // outlive the value; strings with escapes are still copied
};

// Containers may be nested this deep; opening one more is an error
// ("recursion limit exceeded"). A value nested deeper does not read back from
// its own text, so normalization and the normalizing printer stop there too.
inline constexpr int kMaxDepth = 127;

// Parses one JSON document (whitespace around it allowed). Containers,
// decoded strings and members live in `arena`. Failure: an InvalidJson error
// whose message is the parser message and " at line L column C".
Result<JsonValue> parse_json(std::string_view text, Arena& arena,
                             StringStorage strings = StringStorage::Copy);

}  // namespace quarn::json
