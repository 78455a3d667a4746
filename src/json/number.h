// Number conversion and layout shared by the parser, the printer and
// normalization.
//
// The parser reads a number token into an unsigned 64-bit significand S and a
// decimal exponent X and turns them into a double with `decimal_to_double`:
// one IEEE multiplication or division by a table power of ten per step. That
// is not always the double nearest to the decimal value, and canonical text
// and hashes depend on exactly this result, so every place that needs "what
// the parser would give" calls these functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn::json {

// kPow10[i] is the double nearest to 10^i, for i in 0..308.
extern const double kPow10[309];

// The parser's conversion of S × 10^X (not yet negated). Returns false when
// the result would be infinite ("number out of range").
bool decimal_to_double(std::uint64_t s, std::int32_t x, double& out) noexcept;

// The shortest decimal digits that read back (correctly rounded) as `d`, for a
// finite non-zero |d|: digits[0..n) with no trailing zeros, and the decimal
// point position k, so that |d| = 0.d1…dn × 10^k. `value` is d1…dn as an
// integer.
struct ShortestDigits {
  char digits[20];
  int n;
  int k;
  std::uint64_t value;
};
ShortestDigits shortest_digits(double d) noexcept;

// The same record for digits already known (`digits` without trailing zeros,
// non-zero).
ShortestDigits digits_from(std::uint64_t digits, int k) noexcept;

// Writes the decimal digits of `u` (no sign, no leading zeros) to `out`, which
// has room for 20, and returns their count.
std::size_t write_uint(std::uint64_t u, char* out) noexcept;

// Largest text `format_double` writes ("-" + 17 digits + "e-324" and change).
inline constexpr std::size_t kMaxDoubleText = 32;

// Writes the canonical text of `d` to `out` (at least
// kMaxDoubleText bytes) and returns its length: "0.0", "-0.0", "0.00001",
// "100.0", "12.34", "1e+16", "1.5e-7", "5e-324" … A double that is not finite
// writes "null".
std::size_t format_double(double d, char* out) noexcept;

// Lays out shortest digits (with a leading "-" when `negative`) as
// `format_double` does; `sd` must come from a non-zero double.
std::size_t format_digits(const ShortestDigits& sd, bool negative, char* out) noexcept;

// `reparse_double` for a non-zero `d` whose shortest digits are `sd`.
bool reparse_digits(const ShortestDigits& sd, double d, double& out) noexcept;

// The double that the parser gives when it reads back the canonical text of
// `d` (finite). Usually `d` itself; it differs for some inputs whose shortest
// digits do not convert exactly. Returns false when the read-back would be
// "number out of range".
bool reparse_double(double d, double& out) noexcept;

}  // namespace quarn::json
