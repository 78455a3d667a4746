// Byte scanning shared by the parser and the printer (internal).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUARN_SSE2 1
#endif

namespace quarn::json::detail {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// The first byte at or after `p` that ends a run of plain string content: a
// double quote, a backslash or a byte below 20 (hex); `end` if there is none.
// These are exactly the bytes that the parser must look at inside a string and
// that the printer must escape.
inline const char* scan_string_run(const char* p, const char* end) noexcept {
#ifdef QUARN_SSE2
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i below = _mm_set1_epi8(0x1F);
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Unsigned v <= 0x1F  <=>  min(v, 0x1F) == v.
    __m128i ctrl = _mm_cmpeq_epi8(_mm_min_epu8(v, below), v);
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)), ctrl);
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return p + std::countr_zero(mask);
    p += 16;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      std::uint64_t v;
      std::memcpy(&v, p, 8);
      std::uint64_t q = v ^ (kOnes * '"');
      std::uint64_t b = v ^ (kOnes * '\\');
      // The lowest flagged byte of each term is exact (borrows only run upward).
      std::uint64_t t = ((q - kOnes) & ~q) | ((b - kOnes) & ~b) | ((v - kOnes * 0x20) & ~v);
      t &= kHighs;
      if (t != 0) return p + (std::countr_zero(t) >> 3);
      p += 8;
    }
  }
  while (p < end) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20) return p;
    ++p;
  }
  return end;
}

// True when the eight bytes at `p` are all ASCII digits.
inline bool eight_digits(const char* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return (v & 0xF0F0F0F0F0F0F0F0ull) == 0x3030303030303030ull &&
         ((v + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) == 0x3030303030303030ull;
}

// The value of the eight ASCII digits at `p`.
inline std::uint64_t eight_digit_value(const char* p) noexcept {
  if constexpr (std::endian::native != std::endian::little) {
    std::uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r = r * 10 + static_cast<std::uint64_t>(p[i] - '0');
    return r;
  }
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  v -= 0x3030303030303030ull;
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
      32;
  return v;
}

// Number of decimal digits of `v` (1 for 0).
inline int decimal_digits(std::uint64_t v) noexcept {
  static constexpr std::uint64_t kPow[20] = {1ull,
                                             10ull,
                                             100ull,
                                             1000ull,
                                             10000ull,
                                             100000ull,
                                             1000000ull,
                                             10000000ull,
                                             100000000ull,
                                             1000000000ull,
                                             10000000000ull,
                                             100000000000ull,
                                             1000000000000ull,
                                             10000000000000ull,
                                             100000000000000ull,
                                             1000000000000000ull,
                                             10000000000000000ull,
                                             100000000000000000ull,
                                             1000000000000000000ull,
                                             10000000000000000000ull};
  int t = (std::bit_width(v | 1) * 1233) >> 12;  // about log10(2) × bit width
  return t + 1 - (v < kPow[t]);
}

// Byte-order comparison of member names (what std::string_view's operator<
// does), with the common short prefixes compared inline.
inline bool name_less(std::string_view a, std::string_view b) noexcept {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a.data());
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b.data());
  std::size_t i = 0;
  for (; i < n && i < 16; ++i)
    if (x[i] != y[i]) return x[i] < y[i];
  if (i < n) {
    int c = std::memcmp(x + i, y + i, n - i);
    if (c != 0) return c < 0;
  }
  return a.size() < b.size();
}

}  // namespace quarn::json::detail
