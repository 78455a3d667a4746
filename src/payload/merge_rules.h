// Schema merge rules: how the caller describes encoded top-level members of a
// payload, and the reader that turns their JSON text into a map.
//
// JSON form: one object whose members map a top-level member name to a rule.
// A rule is an object with the optional members "encoding", "decoded_type"
// (integers in the signed 32-bit range, no fraction or exponent) and
// "match_importance" (any number), where null means absent and other members
// are skipped whatever they hold; or an array of up to three elements in that
// order, missing or null elements absent. A later rule for the same name
// replaces an earlier one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace quarn::payload {

// One rule. Every field may be absent, which is distinct from any value.
struct MergeRule {
  std::optional<std::int32_t> encoding;      // 1: the member's string is Base64
  std::optional<std::int32_t> decoded_type;  // 1: the (decoded) string is a JSON document
  std::optional<double> match_importance;    // always finite; only annotates the schema
};

// Member name -> rule. Names are unique and iterate in ascending byte order
// (the member order of JSON objects), so the rules can be walked side by side
// with an object's members. Owns its names.
class SchemaMerges {
 public:
  struct Entry {
    std::string name;
    MergeRule rule;
  };

  SchemaMerges() = default;
  // From entries in any order: sorted by name (stable), and of several
  // entries with one name the last one is kept. O(n log n).
  explicit SchemaMerges(std::vector<Entry> entries);

  bool empty() const noexcept { return entries_.empty(); }
  std::size_t size() const noexcept { return entries_.size(); }
  const Entry* begin() const noexcept { return entries_.data(); }
  const Entry* end() const noexcept { return entries_.data() + entries_.size(); }
  // The rule named exactly `name` (bytes, case-sensitive), or nullptr.
  const MergeRule* find(std::string_view name) const noexcept;

 private:
  std::vector<Entry> entries_;
};

// Reads schema merges text in one pass, straight into the map; the first
// fault in text order ends the read. Failure is an InvalidJson error whose
// message is the JSON parser's message, or one of
//   "invalid type: FOUND, expected a map"              (top level not an object)
//   "invalid type: FOUND, expected struct MergeRule"   (rule neither object nor array)
//   "invalid type: FOUND, expected i32"                (encoding/decoded_type not an integer)
//   "invalid value: FOUND, expected i32"               (integer outside 32 bits)
//   "invalid type: FOUND, expected f64"                (match_importance not a number)
//   "duplicate field `NAME`"                           (a known field twice in one rule object)
//   "trailing characters" / "trailing comma"           (after the third element of a rule array)
// followed by " at line L column C". FOUND describes the offending value:
// "null", "boolean `true`", "integer `-5`", "floating point `1.0`" (printed
// as the canonical text prints doubles), "string \"...\"", "sequence", "map".
// In a string description `"` and `\` are escaped with a backslash; NUL, tab,
// line feed and carriage return as \0 \t \n \r; every other C0 control
// character, DEL and every C1 control character (U+0080..U+009F) as \u{XX}
// (lower-case hex, no leading zeros); all else is written as it is.
// Positions: a scalar of the wrong type or range counts through its last byte
// (a string's closing quote); an array or object of the wrong type counts up
// to just before its opening bracket; a duplicate field counts through the
// name's closing quote and the whitespace after it.
// Values skipped inside a rule object need only be well-formed JSON: they may
// be nested to any depth (read without recursion).
Result<SchemaMerges> parse_schema_merges(std::string_view text);

}  // namespace quarn::payload
