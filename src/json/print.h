// The module's one JSON printer: writes canonical JSON text.
//
// No whitespace; object members in ascending name byte order (as every
// JsonValue holds them); integers as plain digits; doubles in the shortest
// form laid out by `format_double` (json/number.h); strings with the minimal
// escapes (quote, backslash, and bytes below 20 hex), everything else as is.
#pragma once

#include "json/buffer.h"
#include "json/value.h"

namespace quarn::json {

// Appends the canonical text of `value` to `out`. Cannot fail (but for running
// out of memory). Recurses once per nesting level of the value.
void print_json(const JsonValue& value, Buffer& out);

// Appends a JSON string literal (quotes included) with canonical escapes.
void print_string(std::string_view s, Buffer& out);

// Exact length of the canonical text of `value`.
std::size_t printed_size(const JsonValue& value) noexcept;

}  // namespace quarn::json
