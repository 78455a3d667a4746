// The deterministic hash: SHA-256 of a value's canonical JSON text.
#pragma once

#include "base/sha256.h"
#include "json/value.h"

namespace quarn::json {

// The hash of the canonical text of `value`. The text is printed in pieces
// straight into the digest; it is never held whole.
HashText hash_json_value(const JsonValue& value);

}  // namespace quarn::json
