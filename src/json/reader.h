// The JSON token reader: the lexical half of the module's one JSON parser.
//
// `parse_json` (json/parse.h) builds values from these primitives, and the
// schema merges reader (payload/merge_rules.h) uses the same primitives to read
// its text in one pass, so both accept exactly the same grammar and report the
// same messages at the same positions.
//
// Positions: every failure records P, the number of bytes of the text that
// count as read when the fault is found: for a byte that does not fit, the
// bytes up to and including it; when the text ends too early, the text's
// length. `describe` turns P into the " at line L column C" suffix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/messages.h"
#include "base/result.h"
#include "json/number.h"
#include "json/scan.h"
#include "json/value.h"

namespace quarn::json {

struct ParseError {
  std::string message;
  std::size_t position;  // P, see above
};

// " at line L column C" for position P in `text`.
std::string position_suffix(std::string_view text, std::size_t position);

// A ModuleError of `kind` whose message is the parse error's message followed
// by its position suffix.
ModuleError to_module_error(ErrorKind kind, std::string_view text, const ParseError& e);

// A kind of container: its closing bracket and the messages of its faults.
struct Container {
  char close;
  const char* eof;           // the text ends inside it
  const char* expected_end;  // after an element, neither ',' nor the closing bracket
};
inline constexpr Container kList{']', msg::kEofList, msg::kExpectedListEnd};
inline constexpr Container kObject{'}', msg::kEofObject, msg::kExpectedObjectEnd};

// Where a container stands after one of the Reader's container steps.
enum class Step : std::uint8_t {
  Element,  // an element (or member name) starts at the current byte
  Closed,   // the closing bracket was read
  Failed,   // the error is recorded
};

class Reader {
 public:
  explicit Reader(std::string_view text) noexcept
      : begin_(text.data()), cur_(text.data()), end_(text.data() + text.size()) {}

  std::string_view text() const noexcept { return {begin_, static_cast<std::size_t>(end_ - begin_)}; }
  std::size_t offset() const noexcept { return static_cast<std::size_t>(cur_ - begin_); }
  bool at_end() const noexcept { return cur_ == end_; }
  // The current byte; the caller checks `at_end()` first.
  char peek() const noexcept { return *cur_; }
  void advance() noexcept { ++cur_; }

  // Whitespace between tokens is most often absent or a single space (as
  // after ", " and ": "); both are settled here, in the caller's loop, and
  // only a longer run goes to the loop below.
  QUARN_ALWAYS_INLINE void skip_whitespace() noexcept {
    if (end_ - cur_ >= 2) [[likely]] {
      const unsigned char c = static_cast<unsigned char>(cur_[0]);
      if (c > ' ') return;
      if (c == ' ' && static_cast<unsigned char>(cur_[1]) > ' ') {
        ++cur_;
        return;
      }
    }
    skip_whitespace_run();
  }

  // Skips every whitespace byte from the current one on. Pretty-printed text
  // puts a line feed and a run of indentation before most tokens, so the run
  // is scanned many bytes at a time.
  [[gnu::noinline]] void skip_whitespace_run() noexcept { cur_ = detail::skip_space_run(cur_, end_); }

  // Failure helpers: record the error and return false.
  // At the current byte (P counts it):
  [[gnu::cold]] bool fail_here(const char* message) { return fail_at(offset() + 1, message); }
  // With the text ended (P is the text's length):
  [[gnu::cold]] bool fail_eof(const char* message) {
    return fail_at(static_cast<std::size_t>(end_ - begin_), message);
  }
  [[gnu::cold]] bool fail_at(std::size_t position, std::string message) {
    error_.message = std::move(message);
    error_.position = position;
    return false;
  }
  const ParseError& error() const noexcept { return error_; }
  ParseError& error() noexcept { return error_; }

  // ---- the steps of reading a container, shared by every reader of
  // arrays and objects, so all report the same faults at the same places.

  // Reads the opening bracket (current) and the whitespace after it.
  QUARN_ALWAYS_INLINE Step open(const Container& c) {
    ++cur_;
    skip_whitespace();
    if (cur_ == end_) return failed(fail_eof(c.eof));
    if (*cur_ != c.close) return Step::Element;
    ++cur_;
    return Step::Closed;
  }

  // After an element: whitespace, then ',' and the whitespace before the next
  // element (a closing bracket there is "trailing comma"), or the closing
  // bracket.
  QUARN_ALWAYS_INLINE Step next(const Container& c) {
    skip_whitespace();
    if (cur_ == end_) return failed(fail_eof(c.eof));
    const char b = *cur_;
    if (b == ',') {
      ++cur_;
      skip_whitespace();
      if (cur_ == end_) return failed(fail_eof(msg::kEofValue));
      if (*cur_ == c.close) return failed(fail_here(msg::kTrailingComma));
      return Step::Element;
    }
    if (b != c.close) return failed(fail_here(c.expected_end));
    ++cur_;
    return Step::Closed;
  }

  // Where an object's element starts: a member name's opening quote.
  QUARN_ALWAYS_INLINE bool at_member_name() { return *cur_ == '"' || fail_here(msg::kKeyMustBeString); }

  // After a member name: whitespace, ':' and the whitespace before the value.
  QUARN_ALWAYS_INLINE bool read_colon() {
    skip_whitespace();
    if (cur_ == end_) return fail_eof(msg::kEofObject);
    if (*cur_ != ':') return fail_here(msg::kExpectedColon);
    ++cur_;
    skip_whitespace();
    return true;
  }

  // Reads the literal `word` ("null", "true", "false") whose first byte is
  // current. Fails with "expected ident" at a wrong byte, and with "EOF while
  // parsing a value" when the text ends inside it.
  bool read_literal(const char* word, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
      if (cur_ == end_) return fail_eof(msg::kEofValue);
      if (*cur_ != word[i]) return fail_here(msg::kExpectedIdent);
      ++cur_;
    }
    return true;
  }

  // Reads a string whose opening quote is current. On success `out` is the
  // decoded content: a view into the text when the string has no escapes,
  // else a view of `scratch`, which is overwritten.
  bool read_string(std::string& scratch, std::string_view& out) {
    out = read_string(scratch);
    return out.data() != nullptr;
  }

  // The same, returning the content, or a view with a null data pointer on
  // failure (a string read is never null: an empty one points into the text).
  QUARN_ALWAYS_INLINE std::string_view read_string(std::string& scratch) {
    const char* start = cur_ + 1;  // past the opening quote
    const char* p = detail::scan_string_run(start, end_);
    if (p != end_ && *p == '"') [[likely]] {
      cur_ = p + 1;
      return std::string_view(start, static_cast<std::size_t>(p - start));
    }
    std::string_view out;
    if (!read_string_slow(start, p, scratch, out)) return std::string_view();
    return out;
  }

  // Reads a number whose first byte ('-' or a digit) is current.
  bool read_number(JsonNumber& out);

  // Passes over one well-formed value without building it, with no nesting
  // limit and no recursion. Whitespace before the value must already be
  // skipped. Only the grammar is checked: numbers are not converted (so no
  // number is out of range) and \u escapes need four hex digits but are not
  // paired (a lone surrogate passes). The syntax errors and their positions
  // are those of the full reader.
  bool skip_value();

 private:
  static Step failed(bool) noexcept { return Step::Failed; }

  // A number's digits as read so far: the value is s × 10^x. The significand
  // takes at most 19 digits (`taken`); later integer digits are dropped (each
  // raising x), later fraction digits refused.
  struct Decimal {
    std::uint64_t s = 0;
    std::int64_t x = 0;
    int taken = 0;
    bool dropped = false;
  };
  // The steps of read_number, each starting at its first byte: the integer
  // part (after any '-'), the fraction ('.'), the exponent ('e' or 'E'), and
  // the value made of them. An exponent beyond 32 bits makes the number zero
  // (`zero`) when it is negative or every digit is 0, else out of range.
  // Takes digits into `d` up to eight at a time (as many as start the text and
  // fit in the 19, while eight bytes remain); returns how many.
  int take_wide_digits(Decimal& d) noexcept;
  bool read_integer_part(Decimal& d);
  bool read_fraction(Decimal& d);
  bool read_exponent(Decimal& d, bool& zero);
  bool make_number(Decimal d, bool negative, bool is_double, JsonNumber& out);

  // Where the digits that always fit (19 in all, `taken` so far) end at the latest.
  const char* digit_limit(int taken) const noexcept {
    if (taken >= 19) return cur_;
    const std::size_t room = static_cast<std::size_t>(19 - taken);
    return static_cast<std::size_t>(end_ - cur_) < room ? end_ : cur_ + room;
  }
  bool read_string_slow(const char* start, const char* stop, std::string& scratch, std::string_view& out);
  bool read_escaped_string(const char* start, std::string& scratch, std::string_view& out);
  bool read_hex4(unsigned& out);
  // Grammar-only passes over a string (opening quote current) and a number
  // (first byte current), for skip_value.
  bool skip_string();
  bool skip_number();
  bool skip_member_name() { return at_member_name() && skip_string() && read_colon(); }

  const char* begin_;
  const char* cur_;
  const char* end_;
  ParseError error_;
};

}  // namespace quarn::json
