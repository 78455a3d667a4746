#include "payload/merge_rules.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <utility>

#include "json/number.h"
#include "json/reader.h"

namespace quarn::payload {

SchemaMerges::SchemaMerges(std::vector<Entry> entries) : entries_(std::move(entries)) {
  auto less = [](const Entry& a, const Entry& b) { return a.name < b.name; };
  if (!std::is_sorted(entries_.begin(), entries_.end(), less))
    std::stable_sort(entries_.begin(), entries_.end(), less);
  // Keep the last entry of every run of equal names.
  std::size_t w = 0;
  const std::size_t n = entries_.size();
  for (std::size_t r = 0; r < n; ++r) {
    if (r + 1 < n && entries_[r + 1].name == entries_[r].name) continue;
    if (w != r) entries_[w] = std::move(entries_[r]);
    ++w;
  }
  entries_.resize(w);
}

const MergeRule* SchemaMerges::find(std::string_view name) const noexcept {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                             [](const Entry& e, std::string_view n) { return e.name < n; });
  if (it != entries_.end() && it->name == name) return &it->rule;
  return nullptr;
}

namespace {

using json::JsonNumber;
using json::Reader;
using json::Step;

void append_uint(std::string& out, std::uint64_t u) {
  char buf[20];
  auto r = std::to_chars(buf, buf + sizeof buf, u);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void append_int(std::string& out, std::int64_t i) {
  char buf[21];
  auto r = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void append_hex_escape(std::string& out, unsigned c) {
  const char* hex = "0123456789abcdef";
  out += "\\u{";
  if (c >= 0x10) out += hex[c >> 4];
  out += hex[c & 0xF];
  out += '}';
}

// `string "..."` with the escaping documented in the header. `s` is valid
// UTF-8 (the reader only accepts such text).
void describe_string(std::string& out, std::string_view s) {
  out += msg::kFoundString;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\0': out += "\\0"; continue;
      case '\t': out += "\\t"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      append_hex_escape(out, c);
    } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0) {
      // U+0080..U+009F (C1 controls) are encoded C2 80..C2 9F.
      append_hex_escape(out, static_cast<unsigned char>(s[i + 1]));
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

void describe_number(std::string& out, const JsonNumber& n) {
  switch (n.kind) {
    case JsonNumber::Kind::UInt:
      out += msg::kFoundInteger;
      append_uint(out, n.u);
      break;
    case JsonNumber::Kind::Int:
      out += msg::kFoundInteger;
      append_int(out, n.i);
      break;
    case JsonNumber::Kind::Double: {
      out += msg::kFoundDouble;
      char buf[json::kMaxDoubleText];
      out.append(buf, json::format_double(n.d, buf));
      break;
    }
  }
  out += '`';
}

class MergesReader {
 public:
  explicit MergesReader(std::string_view text) : r_(text) {}

  bool read(std::vector<SchemaMerges::Entry>& entries) {
    r_.skip_whitespace();
    if (r_.at_end()) return r_.fail_eof(msg::kEofValue);
    if (r_.peek() != '{') return wrong_type(msg::kExpectedMap);
    Step step = r_.open(json::kObject);
    while (step == Step::Element) {
      if (!r_.at_member_name()) return false;
      std::string_view name;
      if (!r_.read_string(scratch_, name)) return false;
      SchemaMerges::Entry entry{std::string(name), MergeRule{}};
      if (!r_.read_colon()) return false;
      if (!read_rule(entry.rule)) return false;
      entries.push_back(std::move(entry));
      step = r_.next(json::kObject);
    }
    if (step == Step::Failed) return false;
    r_.skip_whitespace();
    if (!r_.at_end()) return r_.fail_here(msg::kTrailingChars);
    return true;
  }

  const json::ParseError& error() const { return r_.error(); }

 private:
  enum Field : unsigned { kEncoding = 0, kDecodedType = 1, kMatchImportance = 2, kUnknown = 3 };

  // Records "<head><found><tail>" at the current offset.
  [[gnu::cold]] bool fail(std::string_view head, std::string_view found, std::string_view tail) {
    std::string m;
    m.reserve(head.size() + found.size() + tail.size());
    m.append(head).append(found).append(tail);
    return r_.fail_at(r_.offset(), std::move(m));
  }

  // The value at the current byte is not of the expected type. A scalar is
  // read first (its own syntax errors come first, and the position then
  // counts through its last byte); an array or object is left unread.
  bool wrong_type(std::string_view expected_tail) {
    found_.clear();
    if (!describe_value()) return false;
    return fail(msg::kInvalidType, found_, expected_tail);
  }

  // A number already read that an i32 field cannot take.
  bool wrong_number(const char* head, const JsonNumber& n) {
    found_.clear();
    describe_number(found_, n);
    return fail(head, found_, msg::kExpectedI32);
  }

  // Appends the description of the value at the current byte to `found_`,
  // reading it when it is a scalar.
  bool describe_value() {
    if (r_.at_end()) return r_.fail_eof(msg::kEofValue);
    switch (r_.peek()) {
      case '[': found_ += msg::kFoundSequence; return true;
      case '{': found_ += msg::kFoundMap; return true;
      case 'n':
        if (!r_.read_literal("null", 4)) return false;
        found_ += msg::kFoundNull;
        return true;
      case 't':
        if (!r_.read_literal("true", 4)) return false;
        found_ += msg::kFoundTrue;
        return true;
      case 'f':
        if (!r_.read_literal("false", 5)) return false;
        found_ += msg::kFoundFalse;
        return true;
      case '"': {
        std::string_view s;
        if (!r_.read_string(scratch_, s)) return false;
        describe_string(found_, s);
        return true;
      }
      default: break;
    }
    char c = r_.peek();
    if (c == '-' || (c >= '0' && c <= '9')) {
      JsonNumber n;
      if (!r_.read_number(n)) return false;
      describe_number(found_, n);
      return true;
    }
    return r_.fail_here(msg::kExpectedValue);
  }

  bool starts_number() const {
    char c = r_.peek();
    return c == '-' || (c >= '0' && c <= '9');
  }

  // Reads `null` (absent) at the current byte if it is there.
  bool read_null(bool& was_null) {
    was_null = false;
    if (r_.at_end() || r_.peek() != 'n') return true;
    was_null = true;
    return r_.read_literal("null", 4);
  }

  bool read_i32(std::optional<std::int32_t>& out) {
    bool was_null;
    if (!read_null(was_null)) return false;
    if (was_null) {
      out.reset();
      return true;
    }
    if (r_.at_end() || !starts_number()) return wrong_type(msg::kExpectedI32);
    JsonNumber n;
    if (!r_.read_number(n)) return false;
    switch (n.kind) {
      case JsonNumber::Kind::UInt:
        if (n.u > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
          return wrong_number(msg::kInvalidValue, n);
        out = static_cast<std::int32_t>(n.u);
        return true;
      case JsonNumber::Kind::Int:
        if (n.i < std::numeric_limits<std::int32_t>::min()) return wrong_number(msg::kInvalidValue, n);
        out = static_cast<std::int32_t>(n.i);
        return true;
      case JsonNumber::Kind::Double: return wrong_number(msg::kInvalidType, n);
    }
    return true;
  }

  bool read_f64(std::optional<double>& out) {
    bool was_null;
    if (!read_null(was_null)) return false;
    if (was_null) {
      out.reset();
      return true;
    }
    if (r_.at_end() || !starts_number()) return wrong_type(msg::kExpectedF64);
    JsonNumber n;
    if (!r_.read_number(n)) return false;
    switch (n.kind) {
      case JsonNumber::Kind::UInt: out = static_cast<double>(n.u); break;
      case JsonNumber::Kind::Int: out = static_cast<double>(n.i); break;
      case JsonNumber::Kind::Double: out = n.d; break;
    }
    return true;
  }

  bool read_field(unsigned field, MergeRule& rule) {
    switch (field) {
      case kEncoding: return read_i32(rule.encoding);
      case kDecodedType: return read_i32(rule.decoded_type);
      default: return read_f64(rule.match_importance);
    }
  }

  static unsigned field_of(std::string_view name) {
    if (name == "encoding") return kEncoding;
    if (name == "decoded_type") return kDecodedType;
    if (name == "match_importance") return kMatchImportance;
    return kUnknown;
  }

  static const char* field_name(unsigned field) {
    switch (field) {
      case kEncoding: return "encoding";
      case kDecodedType: return "decoded_type";
      default: return "match_importance";
    }
  }

  // A rule at the current byte (whitespace skipped): object or array form.
  bool read_rule(MergeRule& rule) {
    if (r_.at_end()) return r_.fail_eof(msg::kEofValue);
    char c = r_.peek();
    if (c == '{') return read_rule_object(rule);
    if (c == '[') return read_rule_array(rule);
    return wrong_type(msg::kExpectedMergeRule);
  }

  bool read_rule_object(MergeRule& rule) {
    Step step = r_.open(json::kObject);
    unsigned seen = 0;
    while (step == Step::Element) {
      if (!r_.at_member_name()) return false;
      std::string_view name;
      if (!r_.read_string(scratch_, name)) return false;
      const unsigned field = field_of(name);
      if (field != kUnknown) {
        if (seen & (1u << field)) {
          r_.skip_whitespace();
          return fail(msg::kDuplicateField, field_name(field), "`");
        }
        seen |= 1u << field;
      }
      if (!r_.read_colon()) return false;
      if (field != kUnknown) {
        if (!read_field(field, rule)) return false;
      } else if (!r_.skip_value()) {
        return false;
      }
      step = r_.next(json::kObject);
    }
    return step == Step::Closed;
  }

  // Up to three elements. After the third, only the closing bracket may
  // follow: another element (or anything else) is "trailing characters".
  bool read_rule_array(MergeRule& rule) {
    Step step = r_.open(json::kList);
    for (unsigned field = kEncoding; step == Step::Element; ++field) {
      if (!read_field(field, rule)) return false;
      if (field == kMatchImportance) return read_rule_array_end();
      step = r_.next(json::kList);
    }
    return step == Step::Closed;
  }

  // After the third element of a rule array: the closing bracket.
  bool read_rule_array_end() {
    r_.skip_whitespace();
    if (r_.at_end()) return r_.fail_eof(msg::kEofList);
    const char c = r_.peek();
    if (c == ']') {
      r_.advance();
      return true;
    }
    if (c != ',') return r_.fail_here(msg::kTrailingChars);
    r_.advance();
    r_.skip_whitespace();
    if (r_.at_end()) return r_.fail_eof(msg::kTrailingChars);
    if (r_.peek() == ']') return r_.fail_here(msg::kTrailingComma);
    return r_.fail_here(msg::kTrailingChars);
  }

  Reader r_;
  std::string scratch_;
  std::string found_;
};

}  // namespace

Result<SchemaMerges> parse_schema_merges(std::string_view text) {
  std::vector<SchemaMerges::Entry> entries;
  MergesReader reader(text);
  if (!reader.read(entries)) return json::to_module_error(ErrorKind::InvalidJson, text, reader.error());
  return SchemaMerges(std::move(entries));
}

}  // namespace quarn::payload
