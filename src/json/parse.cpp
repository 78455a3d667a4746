#include "json/parse.h"

#include <string>
#include <vector>

namespace quarn::json {

namespace {

class Parser {
 public:
  Parser(std::string_view text, Arena& arena, StringStorage strings)
      : r_(text), arena_(arena), borrow_(strings == StringStorage::Borrow) {
    // Room for the members and elements of the open containers: one
    // allocation each instead of a run of small ones for small documents.
    values_.reserve(64);
    members_.reserve(64);
  }

  bool parse_document(JsonValue& out) {
    r_.skip_whitespace();
    if (!parse_value(out, 0)) return false;
    r_.skip_whitespace();
    if (!r_.at_end()) return r_.fail_here(msg::kTrailingChars);
    return true;
  }

  const ParseError& error() const { return r_.error(); }

 private:
  // The value starts at the current byte (whitespace already skipped).
  // Scalars are read in place; containers recurse through parse_array and
  // parse_object, which are not inlined.
  QUARN_ALWAYS_INLINE bool parse_value(JsonValue& out, int depth) {
    if (r_.at_end()) [[unlikely]]
      return r_.fail_eof(msg::kEofValue);
    switch (r_.peek()) {
      case '"': return parse_string(out);
      case '{': return parse_object(out, depth + 1);
      case '[': return parse_array(out, depth + 1);
      case 'n':
        out = JsonValue::null();
        return r_.read_literal("null", 4);
      case 't':
        out = JsonValue::boolean(true);
        return r_.read_literal("true", 4);
      case 'f':
        out = JsonValue::boolean(false);
        return r_.read_literal("false", 5);
      case '-':
      case '0': case '1': case '2': case '3': case '4':
      case '5': case '6': case '7': case '8': case '9': {
        JsonNumber n;
        if (!r_.read_number(n)) return false;
        out = JsonValue::number(n);
        return true;
      }
      default: return r_.fail_here(msg::kExpectedValue);
    }
  }

  QUARN_ALWAYS_INLINE bool read_string_view(std::string_view& s, bool& in_text) {
    if (!r_.read_string(scratch_, s)) return false;
    // Escaped strings are decoded into the scratch; the others are views of the text.
    in_text = s.data() != scratch_.data();
    return true;
  }

  std::string_view keep(std::string_view s, bool in_text) {
    if (borrow_ && in_text) return s;
    return std::string_view(arena_.copy_bytes(s), s.size());
  }

  QUARN_ALWAYS_INLINE bool parse_string(JsonValue& out) {
    std::string_view s;
    bool in_text;
    if (!read_string_view(s, in_text)) return false;
    out = JsonValue::string_ref(keep(s, in_text));
    return true;
  }

  [[gnu::noinline]] bool parse_array(JsonValue& out, int depth) {
    if (depth > kMaxDepth) return r_.fail_here(msg::kRecursionLimit);
    r_.advance();
    r_.skip_whitespace();
    if (r_.at_end()) return r_.fail_eof(msg::kEofList);
    if (r_.peek() == ']') {
      r_.advance();
      out = JsonValue::array_ref(nullptr, 0);
      return true;
    }
    const std::size_t base = values_.size();
    for (;;) {
      JsonValue v;
      if (!parse_value(v, depth)) return false;
      values_.push_back(v);
      r_.skip_whitespace();
      if (r_.at_end()) return r_.fail_eof(msg::kEofList);
      char c = r_.peek();
      if (c == ',') {
        r_.advance();
        r_.skip_whitespace();
        if (r_.at_end()) return r_.fail_eof(msg::kEofValue);
        if (r_.peek() == ']') return r_.fail_here(msg::kTrailingComma);
        continue;
      }
      if (c == ']') {
        r_.advance();
        break;
      }
      return r_.fail_here(msg::kExpectedListEnd);
    }
    out = make_array(arena_, std::span<const JsonValue>(values_.data() + base, values_.size() - base));
    values_.resize(base);
    return true;
  }

  [[gnu::noinline]] bool parse_object(JsonValue& out, int depth) {
    if (depth > kMaxDepth) return r_.fail_here(msg::kRecursionLimit);
    r_.advance();
    r_.skip_whitespace();
    if (r_.at_end()) return r_.fail_eof(msg::kEofObject);
    if (r_.peek() == '}') {
      r_.advance();
      out = JsonValue::object_ref(nullptr, 0);
      return true;
    }
    const std::size_t base = members_.size();
    for (;;) {
      if (r_.peek() != '"') return r_.fail_here(msg::kKeyMustBeString);
      std::string_view name;
      bool in_text;
      if (!read_string_view(name, in_text)) return false;
      name = keep(name, in_text);
      r_.skip_whitespace();
      if (r_.at_end()) return r_.fail_eof(msg::kEofObject);
      if (r_.peek() != ':') return r_.fail_here(msg::kExpectedColon);
      r_.advance();
      r_.skip_whitespace();
      JsonValue v;
      if (!parse_value(v, depth)) return false;
      members_.push_back(JsonMember{name, v});
      r_.skip_whitespace();
      if (r_.at_end()) return r_.fail_eof(msg::kEofObject);
      char c = r_.peek();
      if (c == ',') {
        r_.advance();
        r_.skip_whitespace();
        if (r_.at_end()) return r_.fail_eof(msg::kEofValue);
        if (r_.peek() == '}') return r_.fail_here(msg::kTrailingComma);
        continue;
      }
      if (c == '}') {
        r_.advance();
        break;
      }
      return r_.fail_here(msg::kExpectedObjectEnd);
    }
    out = make_object(arena_, std::span<JsonMember>(members_.data() + base, members_.size() - base));
    members_.resize(base);
    return true;
  }

  Reader r_;
  Arena& arena_;
  bool borrow_;
  std::string scratch_;
  std::vector<JsonValue> values_;
  std::vector<JsonMember> members_;
};

}  // namespace

bool parse_json_raw(std::string_view text, Arena& arena, StringStorage strings, JsonValue& out,
                    ParseError& error) {
  Parser p(text, arena, strings);
  if (p.parse_document(out)) return true;
  error = p.error();
  return false;
}

Result<JsonValue> parse_json(std::string_view text, Arena& arena, StringStorage strings) {
  JsonValue v;
  ParseError e;
  if (parse_json_raw(text, arena, strings, v, e)) return v;
  return to_module_error(ErrorKind::InvalidJson, text, e);
}

}  // namespace quarn::json
