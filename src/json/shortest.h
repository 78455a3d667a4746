// Shortest round-trip decimal of a double (Schubfach).
//
// For a finite non-zero double v this finds the decimal with the fewest
// significant digits that reads back (correctly rounded, ties to even) as v;
// among several of that length, the one nearest to v's exact value, and of two
// equally near, the one whose last digit is even. These are the digits that
// std::to_chars gives in its shortest form. Only 64-bit integer arithmetic is
// used, so the result is the same on every CPU, word size and compiler.
#pragma once

#include <cstdint>

namespace quarn::json {

// significand × 10^exponent, with a significand that is not a multiple of 10
// (at most 17 digits).
struct Decimal {
  std::uint64_t significand;
  int exponent;
};

// The shortest decimal of |v|; `v` must be finite and not zero.
Decimal shortest_decimal(double v) noexcept;

}  // namespace quarn::json
