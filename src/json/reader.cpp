#include "json/reader.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "json/scan.h"

namespace quarn::json {

namespace {

inline int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, unsigned cp) {
  char b[4];
  std::size_t n;
  if (cp < 0x80) {
    b[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    b[0] = static_cast<char>(0xC0 | (cp >> 6));
    b[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    b[0] = static_cast<char>(0xE0 | (cp >> 12));
    b[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    b[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    b[0] = static_cast<char>(0xF0 | (cp >> 18));
    b[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    b[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    b[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out.append(b, n);
}

inline bool is_digit(char c) noexcept { return static_cast<unsigned char>(c - '0') < 10; }

}  // namespace

std::string position_suffix(std::string_view text, std::size_t position) {
  if (position > text.size()) position = text.size();
  std::size_t line = 1;
  std::size_t line_start = 0;
  const char* base = text.data();
  const char* p = base;
  const char* stop = base + position;
  while (p < stop) {
    const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(stop - p));
    if (nl == nullptr) break;
    ++line;
    p = static_cast<const char*>(nl) + 1;
    line_start = static_cast<std::size_t>(p - base);
  }
  std::string out = " at line ";
  out += std::to_string(line);
  out += " column ";
  out += std::to_string(position - line_start);
  return out;
}

ModuleError to_module_error(ErrorKind kind, std::string_view text, const ParseError& e) {
  return ModuleError{kind, e.message + position_suffix(text, e.position)};
}

bool Reader::read_string_slow(const char* start, const char* p, std::string& scratch, std::string_view& out) {
  cur_ = p;
  if (p == end_) return fail_eof(msg::kEofString);
  if (*p != '\\') return fail_here(msg::kControlChar);
  return read_escaped_string(start, scratch, out);
}

bool Reader::read_hex4(unsigned& out) {
  // `cur_` is at the first of the four digits.
  if (end_ - cur_ < 4) {
    cur_ = end_;
    return fail_eof(msg::kEofString);
  }
  unsigned v = 0;
  bool ok = true;
  for (int i = 0; i < 4; ++i) {
    int h = hex_value(cur_[i]);
    if (h < 0) ok = false;
    v = (v << 4) | static_cast<unsigned>(h & 0xF);
  }
  cur_ += 4;
  if (!ok) return fail_at(offset(), msg::kInvalidEscape);
  out = v;
  return true;
}

bool Reader::read_escaped_string(const char* start, std::string& scratch, std::string_view& out) {
  scratch.assign(start, static_cast<std::size_t>(cur_ - start));
  for (;;) {
    // `cur_` is at a backslash.
    ++cur_;
    if (cur_ == end_) return fail_eof(msg::kEofString);
    char c = *cur_;
    switch (c) {
      case '"':
        scratch.push_back('"');
        ++cur_;
        break;
      case '\\':
        scratch.push_back('\\');
        ++cur_;
        break;
      case '/':
        scratch.push_back('/');
        ++cur_;
        break;
      case 'b':
        scratch.push_back('\b');
        ++cur_;
        break;
      case 'f':
        scratch.push_back('\f');
        ++cur_;
        break;
      case 'n':
        scratch.push_back('\n');
        ++cur_;
        break;
      case 'r':
        scratch.push_back('\r');
        ++cur_;
        break;
      case 't':
        scratch.push_back('\t');
        ++cur_;
        break;
      case 'u': {
        ++cur_;
        unsigned unit;
        if (!read_hex4(unit)) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return fail_at(offset(), msg::kLoneSurrogate);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          if (cur_ == end_) return fail_eof(msg::kEofString);
          if (*cur_ != '\\') return fail_here(msg::kEndOfHexEscape);
          ++cur_;
          if (cur_ == end_) return fail_eof(msg::kEofString);
          if (*cur_ != 'u') return fail_here(msg::kEndOfHexEscape);
          ++cur_;
          unsigned low;
          if (!read_hex4(low)) return false;
          if (low < 0xDC00 || low > 0xDFFF) return fail_at(offset(), msg::kLoneSurrogate);
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        append_utf8(scratch, unit);
        break;
      }
      default: return fail_here(msg::kInvalidEscape);
    }
    const char* run = cur_;
    const char* p = detail::scan_string_run(run, end_);
    scratch.append(run, static_cast<std::size_t>(p - run));
    cur_ = p;
    if (p == end_) return fail_eof(msg::kEofString);
    if (*p == '"') {
      cur_ = p + 1;
      out = scratch;
      return true;
    }
    if (*p != '\\') return fail_here(msg::kControlChar);
  }
}

namespace {

constexpr std::uint64_t kPow10u[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
constexpr std::uint64_t kCut = 1844674407370955161ull;  // (2^64 - 1) / 10

}  // namespace

QUARN_ALWAYS_INLINE int Reader::take_wide_digits(Decimal& d) noexcept {
  // Up to eight digits a step while eight bytes remain, within the 19 that
  // always fit; the callers' loops take what is left. The first byte is a
  // digit; runs of one to three digits (counts, small prices, the integer part
  // of a coordinate) are left to the loops, for which the step costs more
  // than it saves.
  int taken = 0;
  if (end_ - cur_ < 8 || !is_digit(cur_[1]) || !is_digit(cur_[2]) || !is_digit(cur_[3])) return 0;
  while (end_ - cur_ >= 8) {
    std::uint64_t v;
    const int k = detail::leading_digits8(cur_, 19 - d.taken, v);
    d.s = d.s * kPow10u[k] + v;
    cur_ += k;
    d.taken += k;
    taken += k;
    if (k < 8) break;
  }
  return taken;
}

QUARN_ALWAYS_INLINE bool Reader::read_integer_part(Decimal& d) {
  const char c = *cur_;
  if (c == '0') {
    ++cur_;
    d.taken = 1;
    if (cur_ != end_ && is_digit(*cur_)) return fail_here(msg::kInvalidNumber);
    return true;
  }
  if (c < '1' || c > '9') return fail_here(msg::kInvalidNumber);
  take_wide_digits(d);
  for (const char* limit = digit_limit(d.taken); cur_ != limit && is_digit(*cur_);) {
    d.s = d.s * 10 + static_cast<std::uint64_t>(*cur_++ - '0');
    ++d.taken;
  }
  while (cur_ != end_ && is_digit(*cur_)) {
    unsigned digit = static_cast<unsigned>(*cur_ - '0');
    if (!d.dropped && (d.s > kCut || (d.s == kCut && digit > 5))) d.dropped = true;
    if (d.dropped) ++d.x;
    else d.s = d.s * 10 + digit;
    ++d.taken;
    ++cur_;
  }
  return true;
}

QUARN_ALWAYS_INLINE bool Reader::read_fraction(Decimal& d) {
  ++cur_;  // the '.'
  if (cur_ == end_) return fail_eof(msg::kEofValue);
  if (!is_digit(*cur_)) return fail_here(msg::kInvalidNumber);
  if (!d.dropped) {
    d.x -= take_wide_digits(d);
    for (const char* limit = digit_limit(d.taken); cur_ != limit && is_digit(*cur_);) {
      d.s = d.s * 10 + static_cast<std::uint64_t>(*cur_++ - '0');
      --d.x;
      ++d.taken;
    }
  }
  bool refused = false;
  while (cur_ != end_ && is_digit(*cur_)) {
    unsigned digit = static_cast<unsigned>(*cur_ - '0');
    if (!refused && (d.s > kCut || (d.s == kCut && digit > 5))) refused = true;
    if (!refused) {
      d.s = d.s * 10 + digit;
      --d.x;
    }
    ++cur_;
  }
  return true;
}

QUARN_ALWAYS_INLINE bool Reader::read_exponent(Decimal& d, bool& zero) {
  ++cur_;  // the 'e' or 'E'
  bool negative = false;
  if (cur_ != end_ && (*cur_ == '+' || *cur_ == '-')) {
    negative = *cur_ == '-';
    ++cur_;
  }
  if (cur_ == end_) return fail_eof(msg::kEofValue);
  if (!is_digit(*cur_)) return fail_here(msg::kInvalidNumber);
  std::int64_t e = 0;
  while (cur_ != end_ && is_digit(*cur_)) {
    unsigned digit = static_cast<unsigned>(*cur_ - '0');
    if (e > 214748364 || (e == 214748364 && digit > 7)) {
      if (d.s != 0 && !negative) return fail_here(msg::kOutOfRange);
      while (cur_ != end_ && is_digit(*cur_)) ++cur_;
      zero = true;
      return true;
    }
    e = e * 10 + digit;
    ++cur_;
  }
  d.x = negative ? d.x - e : d.x + e;
  return true;
}

QUARN_ALWAYS_INLINE bool Reader::make_number(Decimal d, bool negative, bool is_double, JsonNumber& out) {
  if (!is_double && !d.dropped) {
    if (!negative) {
      out.kind = JsonNumber::Kind::UInt;
      out.u = d.s;
      return true;
    }
    if (d.s >= 1 && d.s <= (std::uint64_t{1} << 63)) {
      out.kind = JsonNumber::Kind::Int;
      out.i = static_cast<std::int64_t>(0 - d.s);
      return true;
    }
    out.kind = JsonNumber::Kind::Double;
    out.d = -static_cast<double>(d.s);
    return true;
  }

  if (d.x > INT32_MAX) d.x = INT32_MAX;
  if (d.x < INT32_MIN) d.x = INT32_MIN;
  double f;
  if (!decimal_to_double(d.s, static_cast<std::int32_t>(d.x), f)) return fail_at(offset(), msg::kOutOfRange);
  out.kind = JsonNumber::Kind::Double;
  out.d = negative ? -f : f;
  out.digits = 0;
  // Up to 15 significant digits with an exact power of ten convert with one
  // correctly rounded operation, and no other decimal of 15 digits or fewer
  // rounds to the same double: these digits are the shortest ones.
  if (!d.dropped && d.s != 0 && d.s < 1000000000000000ull && d.x >= -22 && d.x <= 22) {
    out.k = static_cast<int>(d.x) + detail::decimal_digits(d.s);  // s × 10^x = 0.d1…dn × 10^k
    while (d.s % 10 == 0) d.s /= 10;
    out.digits = d.s;
  }
  return true;
}

bool Reader::read_number(JsonNumber& out) {
  out.digits = 0;
  const bool negative = *cur_ == '-';
  if (negative) {
    ++cur_;
    if (cur_ == end_) return fail_eof(msg::kEofValue);
  }
  Decimal d;
  if (!read_integer_part(d)) return false;
  bool is_double = false;
  if (cur_ != end_ && *cur_ == '.') {
    is_double = true;
    if (!read_fraction(d)) return false;
  }
  if (cur_ != end_ && (*cur_ == 'e' || *cur_ == 'E')) {
    is_double = true;
    bool zero = false;
    if (!read_exponent(d, zero)) return false;
    if (zero) {
      out.kind = JsonNumber::Kind::Double;
      out.d = negative ? -0.0 : 0.0;
      return true;
    }
  }
  return make_number(d, negative, is_double, out);
}

bool Reader::skip_string() {
  ++cur_;  // the opening quote
  for (;;) {
    const char* p = detail::scan_string_run(cur_, end_);
    cur_ = p;
    if (p == end_) return fail_eof(msg::kEofString);
    if (*p == '"') {
      ++cur_;
      return true;
    }
    if (*p != '\\') return fail_here(msg::kControlChar);
    ++cur_;
    if (cur_ == end_) return fail_eof(msg::kEofString);
    switch (*cur_) {
      case '"':
      case '\\':
      case '/':
      case 'b':
      case 'f':
      case 'n':
      case 'r':
      case 't': ++cur_; break;
      case 'u': {
        ++cur_;
        unsigned unit;
        if (!read_hex4(unit)) return false;
        break;
      }
      default: return fail_here(msg::kInvalidEscape);
    }
  }
}

bool Reader::skip_number() {
  auto digits = [this] {
    while (cur_ != end_ && is_digit(*cur_)) ++cur_;
  };
  // After '-', '.', or an exponent mark: at least one digit must follow.
  auto first_digit = [this] {
    if (cur_ == end_) return fail_eof(msg::kEofValue);
    if (!is_digit(*cur_)) return fail_here(msg::kInvalidNumber);
    return true;
  };
  if (*cur_ == '-') {
    ++cur_;
    if (!first_digit()) return false;
  }
  if (*cur_ == '0') {
    ++cur_;
    if (cur_ != end_ && is_digit(*cur_)) return fail_here(msg::kInvalidNumber);
  } else {
    digits();
  }
  if (cur_ != end_ && *cur_ == '.') {
    ++cur_;
    if (!first_digit()) return false;
    digits();
  }
  if (cur_ != end_ && (*cur_ == 'e' || *cur_ == 'E')) {
    ++cur_;
    if (cur_ != end_ && (*cur_ == '+' || *cur_ == '-')) ++cur_;
    if (!first_digit()) return false;
    digits();
  }
  return true;
}

bool Reader::skip_value() {
  std::string stack;  // one byte per open container: '[' or '{'
  for (;;) {
    // A value starts here.
    if (cur_ == end_) return fail_eof(msg::kEofValue);
    switch (*cur_) {
      case '[': {
        const Step step = open(kList);
        if (step == Step::Failed) return false;
        if (step == Step::Closed) break;
        stack.push_back('[');
        continue;
      }
      case '{': {
        const Step step = open(kObject);
        if (step == Step::Failed) return false;
        if (step == Step::Closed) break;
        if (!skip_member_name()) return false;
        stack.push_back('{');
        continue;
      }
      case '"':
        if (!skip_string()) return false;
        break;
      case 'n':
        if (!read_literal("null", 4)) return false;
        break;
      case 't':
        if (!read_literal("true", 4)) return false;
        break;
      case 'f':
        if (!read_literal("false", 5)) return false;
        break;
      default:
        if (*cur_ == '-' || is_digit(*cur_)) {
          if (!skip_number()) return false;
          break;
        }
        return fail_here(msg::kExpectedValue);
    }
    // After a value: close containers until one continues.
    for (;;) {
      if (stack.empty()) return true;
      const bool list = stack.back() == '[';
      const Step step = next(list ? kList : kObject);
      if (step == Step::Failed) return false;
      if (step == Step::Element) {
        if (!list && !skip_member_name()) return false;
        break;
      }
      stack.pop_back();
    }
  }
}

}  // namespace quarn::json
