// The module's one JSON printer: writes canonical JSON text.
//
// No whitespace; object members in ascending name byte order (as every
// JsonValue holds them); integers as plain digits; doubles in the shortest
// form laid out by `format_double` (json/number.h); strings with the minimal
// escapes (quote, backslash, and bytes below 20 hex), everything else as is.
#pragma once

#include "base/buffer.h"
#include "json/value.h"

namespace quarn::json {

// Appends the canonical text of `value` to `out`. Cannot fail (but for running
// out of memory). Recurses once per nesting level of the value.
void print_json(const JsonValue& value, Buffer& out);

// Appends what `print_json(normalize_value(value))` would append: the text of
// the value as it reads back from its own canonical text (containers nested
// deeper than the parser's kMaxDepth do not read back). Returns false when
// that read-back fails (then `out` holds a partial text and the caller finds
// the error with `normalize_value`). With `moved`, reports whether any double
// read back as another one; when none did, `value` is its own normalized form.
bool print_json_normalized(const JsonValue& value, Buffer& out, bool* moved = nullptr);

// Appends a JSON string literal (quotes included) with canonical escapes.
void print_string(std::string_view s, Buffer& out);

// True when `s` prints as is between the quotes, with no escape: a producer of
// values that checked this may set the plain mark (json/value.h).
bool prints_plain(std::string_view s) noexcept;

}  // namespace quarn::json
