// Schema merges text (parse_schema_merges).
//
// The reader works in one pass without building a JSON value; here the same
// text is also parsed with parse_json and the expected map is derived from
// that value by the rules of the format. Checked: success and failure agree
// (where the JSON value can tell: it loses repeated field names inside one
// rule), the map equals the expected one, iterates in ascending unique name
// order and finds every name, and a syntax error of the reader is the
// parser's own error.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "common.h"
#include "json/parse.h"
#include "payload/merge_rules.h"

using namespace quarn;
using namespace quarn::json;
using quarn::payload::MergeRule;

namespace {

enum class Field { Ok, Bad };

// One i32 field from its JSON value.
Field int_field(const JsonValue& v, std::optional<std::int32_t>& out) {
  if (v.is_null()) return Field::Ok;
  if (v.kind() == Kind::UInt) {
    if (v.as_uint() > INT32_MAX) return Field::Bad;
    out = static_cast<std::int32_t>(v.as_uint());
    return Field::Ok;
  }
  if (v.kind() == Kind::Int) {
    if (v.as_int() < INT32_MIN) return Field::Bad;
    out = static_cast<std::int32_t>(v.as_int());
    return Field::Ok;
  }
  return Field::Bad;
}

Field double_field(const JsonValue& v, std::optional<double>& out) {
  if (v.is_null()) return Field::Ok;
  if (!v.is_number()) return Field::Bad;
  out = v.to_double();
  return Field::Ok;
}

// The rule a JSON value describes, or nothing when it is not a valid rule.
std::optional<MergeRule> expected_rule(const JsonValue& v) {
  MergeRule r;
  if (v.is_object()) {
    for (const JsonMember& m : v.members()) {
      Field f = Field::Ok;
      if (m.name == "encoding") f = int_field(m.value, r.encoding);
      else if (m.name == "decoded_type") f = int_field(m.value, r.decoded_type);
      else if (m.name == "match_importance") f = double_field(m.value, r.match_importance);
      if (f == Field::Bad) return std::nullopt;
    }
    return r;
  }
  if (v.is_array()) {
    auto e = v.elements();
    if (e.size() > 3) return std::nullopt;
    if (e.size() > 0 && int_field(e[0], r.encoding) == Field::Bad) return std::nullopt;
    if (e.size() > 1 && int_field(e[1], r.decoded_type) == Field::Bad) return std::nullopt;
    if (e.size() > 2 && double_field(e[2], r.match_importance) == Field::Bad) return std::nullopt;
    return r;
  }
  return std::nullopt;
}

bool same_rule(const MergeRule& a, const MergeRule& b) {
  if (a.encoding != b.encoding || a.decoded_type != b.decoded_type) return false;
  if (a.match_importance.has_value() != b.match_importance.has_value()) return false;
  return !a.match_importance || fuzzref::same_bits(*a.match_importance, *b.match_importance);
}

// " at line L column C" at the end of a message.
bool has_position(const std::string& m) {
  std::size_t at = m.rfind(" at line ");
  if (at == std::string::npos) return false;
  std::size_t col = m.find(" column ", at);
  return col != std::string::npos && col + 8 < m.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text = fuzzref::as_text(data, size);
  if (!fuzzref::utf8_valid(text)) return -1;

  auto merges = payload::parse_schema_merges(text);
  if (!merges) {
    FUZZ_CHECK(merges.error().kind == ErrorKind::InvalidJson);
    FUZZ_CHECK(has_position(merges.error().message));
  } else {
    // Ascending unique names, each found by name.
    const payload::SchemaMerges::Entry* prev = nullptr;
    for (const auto& e : *merges) {
      if (prev) FUZZ_CHECK(prev->name < e.name);
      FUZZ_CHECK(merges->find(e.name) == &e.rule);
      if (e.rule.match_importance) FUZZ_CHECK(std::isfinite(*e.rule.match_importance));
      prev = &e;
    }
    FUZZ_CHECK(merges->empty() == (merges->size() == 0));
  }

  Arena arena;
  Result<JsonValue> v = parse_json(text, arena);
  if (!v) {
    const std::string& jm = v.error().message;
    // Skipped values are read without a nesting limit.
    if (jm.starts_with("recursion limit exceeded")) return 0;
    FUZZ_CHECK(!merges);
    const std::string& mm = merges.error().message;
    bool reader_syntax = !mm.starts_with("invalid type: ") && !mm.starts_with("invalid value: ") &&
                         !mm.starts_with("duplicate field `") && !mm.starts_with("trailing characters") &&
                         !mm.starts_with("trailing comma");
    if (reader_syntax) FUZZ_CHECK(mm == jm);
    return 0;
  }

  // The map the JSON value describes.
  std::map<std::string, MergeRule> expected;
  bool valid = v->is_object();
  if (valid) {
    for (const JsonMember& m : v->members()) {
      auto r = expected_rule(m.value);
      if (!r) {
        valid = false;
        break;
      }
      expected[std::string(m.name)] = *r;
    }
  }
  if (!valid) {
    FUZZ_CHECK(!merges);
    return 0;
  }
  if (!merges) {
    // The JSON value keeps only the last of repeated names, so it loses a
    // field given twice in one rule object and an earlier invalid rule of a
    // name given twice at the top level; those are the only faults left.
    const std::string& mm = merges.error().message;
    FUZZ_CHECK(mm.starts_with("duplicate field `") || mm.starts_with("invalid type: ") ||
               mm.starts_with("invalid value: ") || mm.starts_with("trailing characters") ||
               mm.starts_with("trailing comma"));
    return 0;
  }
  FUZZ_CHECK(merges->size() == expected.size());
  auto it = expected.begin();
  for (const auto& e : *merges) {
    FUZZ_CHECK(e.name == it->first && same_rule(e.rule, it->second));
    ++it;
  }
  return 0;
}
