// Compares shortest_decimal with std::to_chars' shortest scientific form:
// first on edge cases (subnormals, the ends of the subnormal and normal
// ranges, powers of two and ten with their neighbours, integers around 2^53,
// 15 to 17 digit values, values whose exact decimal ends in a 5), then on a
// random sweep of bit patterns and decimal-looking values.
//
//   check_shortest [COUNT] [SEED]     COUNT random doubles (default 10^9)
//
// Prints the number of doubles checked per group; exits 1 on any difference.
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "json/number.h"
#include "json/shortest.h"

using quarn::json::Decimal;
using quarn::json::shortest_decimal;

namespace {

std::uint64_t checked = 0;
std::uint64_t differences = 0;

double from_bits(std::uint64_t b) {
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}

std::uint64_t to_bits(double d) {
  std::uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

// std::to_chars' shortest scientific digits of |d| as significand × 10^exponent.
Decimal reference(double d) {
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(d), std::chars_format::scientific);
  const char* p = buf;
  std::uint64_t m = 0;
  int fraction_digits = 0;
  bool after_point = false;
  for (; *p != 'e'; ++p) {
    if (*p == '.') {
      after_point = true;
      continue;
    }
    m = m * 10 + static_cast<std::uint64_t>(*p - '0');
    if (after_point) ++fraction_digits;
  }
  int e = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, e);
  return {m, e - fraction_digits};
}

void check(double d) {
  if (!std::isfinite(d) || d == 0.0) return;
  ++checked;
  const Decimal got = shortest_decimal(d);
  const Decimal want = reference(d);
  if (got.significand != want.significand || got.exponent != want.exponent) {
    if (++differences <= 20)
      std::printf("DIFFERENCE %a (bits %016" PRIx64 "): got %" PRIu64 "e%d, std::to_chars %" PRIu64 "e%d\n",
                  d, to_bits(d), got.significand, got.exponent, want.significand, want.exponent);
  }
}

// d and the doubles up to `n` steps on either side of it.
void check_around(double d, int n) {
  check(d);
  double up = d, down = d;
  for (int i = 0; i < n; ++i) {
    up = std::nextafter(up, std::numeric_limits<double>::infinity());
    down = std::nextafter(down, -std::numeric_limits<double>::infinity());
    check(up);
    check(down);
  }
}

// The double nearest to m × 10^e.
double parse(std::uint64_t m, int e) {
  char text[48];
  const int n = std::snprintf(text, sizeof text, "%" PRIu64 "e%d", m, e);
  double d = 0;
  std::from_chars(text, text + n, d);
  return d;
}

// xoshiro256** (Blackman and Vigna), seeded by splitmix64.
struct Random {
  std::uint64_t s[4];
  explicit Random(std::uint64_t seed) {
    for (auto& w : s) {
      seed += 0x9e3779b97f4a7c15ull;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
      w = z ^ (z >> 31);
    }
  }
  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t next() {
    const std::uint64_t result = rotl(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
  }
  std::uint64_t below(std::uint64_t n) { return next() % n; }
};

std::uint64_t pow10(int n) {
  std::uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// A random significand of exactly `digits` digits (1..19).
std::uint64_t random_digits(Random& rng, int digits) {
  const std::uint64_t lo = pow10(digits - 1);
  return lo + rng.below(pow10(digits) - lo);
}

void group(const char* name, std::uint64_t before) {
  std::printf("%-66s %12" PRIu64 "\n", name, checked - before);
  std::fflush(stdout);
}

void edge_cases(Random& rng) {
  std::uint64_t at = checked;
  // Subnormals: the smallest 2^20, the largest 2^20, and a spread between.
  for (std::uint64_t c = 1; c <= (1u << 20); ++c) check(from_bits(c));
  for (std::uint64_t c = (std::uint64_t{1} << 52) - (1u << 20); c < (std::uint64_t{1} << 52); ++c)
    check(from_bits(c));
  for (int i = 0; i < 1000000; ++i) check(from_bits(rng.below(std::uint64_t{1} << 52)));
  group("subnormals", at);

  at = checked;
  check_around(std::numeric_limits<double>::denorm_min(), 1000);
  check_around(std::numeric_limits<double>::min(), 1000);
  check_around(std::numeric_limits<double>::max(), 1000);
  check_around(1.0, 1000);
  group("ends of the ranges (1000 steps on each side), 1.0", at);

  at = checked;
  for (int e = -1074; e <= 1023; ++e) check_around(std::ldexp(1.0, e), 20);
  group("powers of two, 20 steps on each side", at);

  at = checked;
  for (int e = -324; e <= 308; ++e) {
    check_around(parse(1, e), 20);
    for (int m = 2; m <= 9; ++m) check_around(parse(static_cast<std::uint64_t>(m), e), 2);
  }
  group("powers of ten and d × 10^e, with neighbours", at);

  at = checked;
  for (std::uint64_t n = 1; n <= 10000000; ++n) check(static_cast<double>(n));
  const std::uint64_t two53 = std::uint64_t{1} << 53;
  for (std::uint64_t n = two53 - 10000000; n <= two53 + 10000000; ++n) check(static_cast<double>(n));
  for (int e = 53; e <= 80; ++e) check_around(std::ldexp(1.0, e), 1000);
  for (int i = 0; i < 1000000; ++i) check(static_cast<double>(rng.next() >> rng.below(64)));
  for (int e = 15; e <= 25; ++e)
    for (std::uint64_t j = 0; j < 10000; ++j)
      check(static_cast<double>(pow10(e < 19 ? e : 19)) * 10 + static_cast<double>(j));
  group("integers up to 10^7, around 2^53, to 2^80, random", at);

  at = checked;
  for (int digits = 15; digits <= 17; ++digits) {
    for (int i = 0; i < 1000000; ++i) {
      const int e = static_cast<int>(rng.below(630)) - 340;
      check(parse(random_digits(rng, digits), e));
    }
  }
  group("15, 16 and 17 significant digits (correctly rounded)", at);

  at = checked;
  // Doubles whose exact decimal ends in the digit 5: odd multiples of 2^-j.
  for (int j = 1; j <= 80; ++j)
    for (int i = 0; i < 20000; ++i) check(std::ldexp(static_cast<double>((rng.next() >> 11) | 1), -j));
  // Decimals of 16 to 19 digits ending in 5, and the doubles beside them.
  for (int digits = 16; digits <= 19; ++digits) {
    for (int i = 0; i < 200000; ++i) {
      const std::uint64_t m = random_digits(rng, digits - 1) * 10 + 5;
      const int e = static_cast<int>(rng.below(630)) - 340;
      check_around(parse(m, e), 1);
    }
  }
  group("values that end in 5 (odd m × 2^-j; ...5 × 10^e with neighbours)", at);
}

void sweep(Random& rng, std::uint64_t count) {
  const std::uint64_t at = checked;
  std::uint64_t bit_patterns = 0, decimals = 0;
  while (checked - at < count) {
    const std::uint64_t before = checked;
    if ((rng.next() & 1) == 0) {
      check(from_bits(rng.next()));
      bit_patterns += checked - before;
    } else {
      // What the module reads from JSON text: digits × 10^x by its own
      // conversion, mostly near 1 and sometimes anywhere in the range.
      const std::uint64_t r = rng.next();
      const int digits = 1 + static_cast<int>((r >> 8) % 19);
      const int x =
          (r & 3) == 0 ? static_cast<int>((r >> 16) % 680) - 360 : static_cast<int>((r >> 16) % 41) - 25;
      double d;
      if (quarn::json::decimal_to_double(random_digits(rng, digits), x, d)) check(d);
      decimals += checked - before;
    }
  }
  std::printf("%-66s %12" PRIu64 "\n", "random sweep: bit patterns", bit_patterns);
  std::printf("%-66s %12" PRIu64 "\n", "random sweep: digits x 10^x by the module's conversion", decimals);
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000000ull;
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  Random rng(seed);
  edge_cases(rng);
  sweep(rng, count);
  std::printf("checked %" PRIu64 " doubles, %" PRIu64 " differences\n", checked, differences);
  return differences == 0 ? 0 : 1;
}
