// Schema merges text (parse_schema_merges).
//
// The reader works in one pass without building a JSON value; here the same
// text is also parsed with parse_json and the expected map is derived from
// that value by the rules of the format. Checked: success and failure agree
// (where the JSON value can tell: it loses repeated field names inside one
// rule), the map equals the expected one, iterates in ascending unique name
// order and finds every name, and a syntax error of the reader is the
// parser's own error.
//
// Members of a rule object other than the three fields are skipped for their
// grammar only: their numbers are not converted and their \u escapes not
// paired. The reference therefore parses a copy of the text in which those
// places cannot fail conversion (see `neutralize_skipped`), and the reader
// must give exactly the same outcome on the text and on that copy.
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common.h"
#include "json/parse.h"
#include "json/reader.h"
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

// Length of the number at the start of `t` as the grammar reads it (greedy),
// or 0 when the grammar fails inside it.
std::size_t number_length(std::string_view t) {
  std::size_t i = 0;
  auto digits = [&] {
    std::size_t from = i;
    while (i < t.size() && fuzzref::is_digit(t[i])) ++i;
    return i > from;
  };
  if (i < t.size() && t[i] == '-') ++i;
  if (i < t.size() && t[i] == '0') {
    ++i;
    if (i < t.size() && fuzzref::is_digit(t[i])) return 0;
  } else if (!digits()) {
    return 0;
  }
  if (i < t.size() && t[i] == '.') {
    ++i;
    if (!digits()) return 0;
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    if (!digits()) return 0;
  }
  return i;
}

// A copy of `t` of the same length in which the skipped values (everything
// below a rule-object member that is not one of the three fields) hold no
// number that conversion could refuse and no surrogate escape: each
// well-formed number there of two or more bytes becomes a string of its
// length ("1e400" becomes "\"xxx\"") and each \uD800..\uDFFF becomes \u0041. Grammar and positions stay, so
// every syntax error stays where it was. Malformed text is copied as it is.
std::string neutralize_skipped(std::string_view t) {
  std::string out(t);
  struct Open {
    char kind;
    bool skipped;  // the container is (inside) a skipped value
  };
  std::vector<Open> open;
  bool expect_name = false;         // in an object, after '{' or ','
  bool after_unknown_name = false;  // in a rule object, after a name that is no field
  auto in_rule_object = [&] { return open.size() == 2 && open[0].kind == '{' && open[1].kind == '{'; };
  // Is the value or name that starts here skipped?
  auto skipped_here = [&] {
    if (!open.empty() && open.back().skipped) return true;
    return !expect_name && in_rule_object() && !open[1].skipped && after_unknown_name;
  };
  auto hex = [](char x) {
    return fuzzref::is_digit(x)     ? x - '0'
           : (x >= 'a' && x <= 'f') ? x - 'a' + 10
           : (x >= 'A' && x <= 'F') ? x - 'A' + 10
                                    : -1;
  };
  std::size_t i = 0;
  while (i < t.size()) {
    const char c = t[i];
    if (c == '"') {
      std::size_t close = i + 1;
      while (close < t.size() && t[close] != '"') close += t[close] == '\\' ? 2 : 1;
      close = std::min(close, t.size());
      if (expect_name && in_rule_object()) {
        std::string scratch;
        std::string_view name;
        json::Reader r(t.substr(i));
        after_unknown_name = !r.read_string(scratch, name) ||
                             (name != "encoding" && name != "decoded_type" && name != "match_importance");
      }
      if (skipped_here()) {
        for (std::size_t e = i + 1; e + 1 < close; ++e) {
          if (t[e] != '\\') continue;
          if (t[e + 1] == 'u' && e + 5 < close) {
            unsigned v = 0;
            bool ok = true;
            for (std::size_t h = e + 2; h < e + 6; ++h) {
              ok = ok && hex(t[h]) >= 0;
              v = v * 16 + static_cast<unsigned>(hex(t[h]) & 0xF);
            }
            if (ok && v >= 0xD800 && v <= 0xDFFF) out.replace(e + 2, 4, "0041");
          }
          ++e;  // the escaped byte
        }
      }
      i = close + 1;
      continue;
    }
    if (c == '-' || fuzzref::is_digit(c)) {
      const std::size_t n = number_length(t.substr(i));
      if (n == 0) {
        // Malformed: left as it is, with every byte that could belong to it.
        while (i < t.size() &&
               (fuzzref::is_digit(t[i]) || std::string_view("+-.eE").find(t[i]) != std::string_view::npos))
          ++i;
        continue;
      }
      if (n >= 2 && !expect_name && skipped_here()) {
        // A string ends where the number ended, whatever follows.
        std::string text(n, 'x');
        text.front() = text.back() = '"';
        out.replace(i, n, text);
      }
      i += n;
      continue;
    }
    switch (c) {
      case '{':
      case '[':
        open.push_back({c, skipped_here()});
        expect_name = c == '{';
        break;
      case '}':
      case ']':
        if (!open.empty()) open.pop_back();
        expect_name = false;
        break;
      case ',': expect_name = !open.empty() && open.back().kind == '{'; break;
      case ':': expect_name = false; break;
      default: break;
    }
    ++i;
  }
  return out;
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

  // The skipped values are read for their grammar only.
  const std::string neutral = neutralize_skipped(text);
  FUZZ_CHECK(neutral.size() == text.size());
  if (neutral != text) {
    auto same = payload::parse_schema_merges(neutral);
    FUZZ_CHECK(static_cast<bool>(same) == static_cast<bool>(merges));
    if (!merges) {
      FUZZ_CHECK(same.error().message == merges.error().message);
    } else {
      FUZZ_CHECK(same->size() == merges->size());
      const payload::SchemaMerges::Entry* a = same->begin();
      for (const auto& e : *merges) {
        FUZZ_CHECK(a->name == e.name && same_rule(a->rule, e.rule));
        ++a;
      }
    }
  }

  Arena arena;
  Result<JsonValue> v = parse_json(neutral, arena);
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
