// Schubfach (R. Giulietti, "The Schubfach way to render doubles", 2020).
//
// A positive double is v = c × 2^q. Round-half-even reading maps to v every
// real number of its rounding interval R, between the midpoints to its two
// neighbours (both ends included when c is even). With k = floor(log10 of the
// interval's length), R holds at least one multiple of 10^k and at most one of
// 10^(k+1). So the shortest decimal is that multiple of 10^(k+1) if R holds it,
// and otherwise whichever of s × 10^k and (s + 1) × 10^k lies in R (the nearer
// to v when both do), where s = floor(v / 10^k).
//
// v, the interval ends and their quotients by 10^k are computed in fixed point
// with two fraction bits: 4c × 2^q × 10^-k, each rounded to odd from a 126-bit
// approximation of 10^-k. Rounding to odd keeps every comparison with a
// multiple of 4 exact (floor and "is exact" survive), which is all the
// selection below looks at.
#include "json/shortest.h"

#include <cstring>

#include "json/shortest_table.h"

#if defined(_MSC_VER) && !defined(__clang__) && defined(_M_X64)
#include <intrin.h>
#endif

namespace quarn::json {

namespace {

struct U128 {
  std::uint64_t hi;
  std::uint64_t lo;
};

// The full product of two 64-bit integers.
inline U128 multiply(std::uint64_t a, std::uint64_t b) noexcept {
#if defined(__SIZEOF_INT128__) && !defined(QUARN_PORTABLE_MUL128)
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return {static_cast<std::uint64_t>(p >> 64), static_cast<std::uint64_t>(p)};
#elif defined(_MSC_VER) && !defined(__clang__) && defined(_M_X64) && !defined(QUARN_PORTABLE_MUL128)
  std::uint64_t hi;
  const std::uint64_t lo = _umul128(a, b, &hi);
  return {hi, lo};
#else
  // Four 32 × 32 -> 64 products (32-bit targets, and compilers without a
  // 128-bit type).
  const std::uint64_t a0 = a & 0xffffffffu, a1 = a >> 32;
  const std::uint64_t b0 = b & 0xffffffffu, b1 = b >> 32;
  const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const std::uint64_t mid = (p00 >> 32) + (p01 & 0xffffffffu) + (p10 & 0xffffffffu);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32), (mid << 32) | (p00 & 0xffffffffu)};
#endif
}

constexpr std::uint64_t kMask63 = (std::uint64_t{1} << 63) - 1;

// floor(q × log10(2)), floor(q × log10(2) + log10(3/4)) and
// floor(e × log2(10)) over the exponents that occur (checked exactly by
// make_shortest_table.py).
constexpr int floor_log10_pow2(int q) noexcept { return (q * 315653) >> 20; }
constexpr int floor_log10_three_quarters_pow2(int q) noexcept { return (q * 315653 - 131072) >> 20; }
constexpr int floor_log2_pow10(int e) noexcept { return (e * 1741647) >> 19; }

// x × g / 2^127 rounded to odd, for g = hi × 2^63 + lo (x < 2^60). The two
// low products are cut where their bits can no longer change the result.
inline std::uint64_t round_to_odd(const detail::Pow10Entry& g, std::uint64_t x) noexcept {
  const std::uint64_t x1 = multiply(g.lo, x).hi;
  const U128 y = multiply(g.hi, x);
  const std::uint64_t z = (y.lo >> 1) + x1;
  const std::uint64_t floor = y.hi + (z >> 63);
  return floor | (((z & kMask63) + kMask63) >> 63);
}

// m × 10^e with the trailing zeros of m moved into the exponent (m > 0).
inline Decimal without_trailing_zeros(std::uint64_t m, int e) noexcept {
  while (m % 10000 == 0) {
    m /= 10000;
    e += 4;
  }
  while (m % 10 == 0) {
    m /= 10;
    ++e;
  }
  return {m, e};
}

}  // namespace

Decimal shortest_decimal(double v) noexcept {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);

  std::uint64_t c;
  int q;
  if (biased != 0) {
    c = fraction | (std::uint64_t{1} << 52);
    q = biased - 1075;
    if (q < 0 && q > -53) {
      // An integer below 2^53: its neighbours lie at most 1/2 away, so no
      // other decimal of as few digits reads back as it.
      const std::uint64_t n = c >> -q;
      if (n << -q == c) return without_trailing_zeros(n, 0);
    }
  } else {
    c = fraction;  // subnormal
    q = -1074;
  }

  // Just above a power of two the gap below is half the gap above.
  const bool irregular = fraction == 0 && biased > 1;
  const std::uint64_t cb = c << 2;
  const std::uint64_t cb_left = irregular ? cb - 1 : cb - 2;
  const std::uint64_t cb_right = cb + 2;
  const int k = irregular ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
  const int h = q + floor_log2_pow10(-k) + 2;
  const detail::Pow10Entry& g = detail::kPow10Table[-k - detail::kPow10Min];

  // 4 × (v, left end, right end) / 10^k, rounded to odd.
  const std::uint64_t vb = round_to_odd(g, cb << h);
  const std::uint64_t vb_left = round_to_odd(g, cb_left << h);
  const std::uint64_t vb_right = round_to_odd(g, cb_right << h);
  // An odd c leaves the interval's ends out: comparisons become strict.
  const std::uint64_t open = c & 1;

  const std::uint64_t s = vb >> 2;
  {
    // The multiples of 10^(k+1) on either side of v; at most one is in R.
    const std::uint64_t lower = s / 10;
    const bool lower_in = vb_left + open <= (lower * 10) << 2;
    const bool upper_in = ((lower + 1) * 10 << 2) + open <= vb_right;
    if (lower_in != upper_in) return without_trailing_zeros(lower_in ? lower : lower + 1, k + 1);
  }
  // Neither s nor s + 1 is a multiple of 10 in R here, so whichever is
  // chosen has no trailing zero.
  const std::uint64_t t = s + 1;
  const bool s_in = vb_left + open <= s << 2;
  const bool t_in = (t << 2) + open <= vb_right;
  if (s_in != t_in) return {s_in ? s : t, k};
  // Both in: the nearer to v, and s (the even one) at an exact tie.
  const std::uint64_t mid = (s + t) << 1;
  const bool take_s = vb < mid || (vb == mid && (s & 1) == 0);
  return {take_s ? s : t, k};
}

}  // namespace quarn::json
