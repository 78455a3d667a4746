#include "json/canonical.h"

#include <stdexcept>

#include "json/normalize.h"
#include "json/parse.h"
#include "json/print.h"

namespace quarn::json {

Result<JsonValue> parse_normalized(std::string_view text, Arena& arena) {
  Result<JsonValue> parsed = parse_json(text, arena, StringStorage::Borrow);
  if (!parsed) return std::move(parsed).error();
  return normalize_value(*parsed, arena);
}

namespace {

// Parses `text` and prints its canonical text into `out` (parse, normalize,
// print), normalizing while printing. Where the read-back fails, normalizing
// for real finds the exact error (the two check the same conditions, so it
// always does; anything else is a broken invariant).
Status canonical_into(std::string_view text, Buffer& out) {
  Arena arena(text.size() + 256);
  Result<JsonValue> parsed = parse_json(text, arena, StringStorage::Borrow);
  if (!parsed) return std::move(parsed).error();
  if (print_json_normalized(*parsed, out)) return Ok{};
  Result<JsonValue> v = normalize_value(*parsed, arena);
  if (!v) return std::move(v).error();
  throw std::logic_error("normalized printing failed where normalization did not");
}

void hash_sink(void* ctx, const char* data, std::size_t size) {
  static_cast<Sha256*>(ctx)->update(data, size);
}

}  // namespace

Result<Buffer> canonical_json_text(std::string_view text) {
  Buffer out(text.size() + 128);
  Status s = canonical_into(text, out);
  if (!s) return std::move(s).error();
  return out;
}

Result<HashText> deterministic_hash(std::string_view text) {
  // The text goes to the digest in pieces; it is never held whole.
  Sha256 h;
  constexpr std::size_t kPiece = std::size_t{64} * 1024;
  Buffer out(text.size() < kPiece ? text.size() + 128 : kPiece);
  out.set_sink(&hash_sink, &h);
  Status s = canonical_into(text, out);
  if (!s) return std::move(s).error();
  out.flush();
  return h.finish();
}

Result<std::pair<Buffer, HashText>> normalize_and_hash(std::string_view text) {
  Buffer out(text.size() + 128);
  Status s = canonical_into(text, out);
  if (!s) return std::move(s).error();
  HashText h = sha256_hex(out.view());
  return std::pair<Buffer, HashText>(std::move(out), h);
}

}  // namespace quarn::json
