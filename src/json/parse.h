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

// Parses one JSON document (whitespace around it allowed). Containers,
// decoded strings and members live in `arena`. Failure: an InvalidJson error
// whose message is the parser message and " at line L column C".
Result<JsonValue> parse_json(std::string_view text, Arena& arena,
                             StringStorage strings = StringStorage::Copy);

// The same parse reporting the raw ParseError (message and position) instead
// of a ModuleError, for callers that attach another kind or text.
bool parse_json_raw(std::string_view text, Arena& arena, StringStorage strings, JsonValue& out,
                    ParseError& error);

}  // namespace quarn::json
