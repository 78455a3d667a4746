#include "json/canonical.h"

#include "json/normalize.h"
#include "json/parse.h"
#include "json/print.h"

namespace quarn::json {

Result<JsonValue> parse_normalized(std::string_view text, Arena& arena) {
  Result<JsonValue> parsed = parse_json(text, arena, StringStorage::Borrow);
  if (!parsed) return std::move(parsed).error();
  return normalize_value(*parsed, arena);
}

Result<Buffer> canonical_json_text(std::string_view text) {
  Arena arena(text.size() + 256);
  Result<JsonValue> v = parse_normalized(text, arena);
  if (!v) return std::move(v).error();
  Buffer out(text.size() + 128);
  print_json(*v, out);
  return out;
}

Result<HashText> deterministic_hash(std::string_view text) {
  Arena arena(text.size() + 256);
  Result<JsonValue> v = parse_normalized(text, arena);
  if (!v) return std::move(v).error();
  return hash_json_value(*v);
}

Result<std::pair<Buffer, HashText>> normalize_and_hash(std::string_view text) {
  Arena arena(text.size() + 256);
  Result<JsonValue> v = parse_normalized(text, arena);
  if (!v) return std::move(v).error();
  Buffer out(text.size() + 128);
  print_json(*v, out);
  HashText h = sha256_hex(out.view());
  return std::pair<Buffer, HashText>(std::move(out), h);
}

}  // namespace quarn::json
