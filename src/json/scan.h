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

#if defined(__GNUC__) || defined(__clang__)
#define QUARN_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#define QUARN_ALWAYS_INLINE inline
#endif

namespace quarn::json::detail {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// Bytes that end a run of plain string content (see scan_string_run).
struct StopTable {
  bool stop[256];
};
inline constexpr StopTable kStops = [] {
  StopTable t{};
  for (int c = 0; c < 0x20; ++c) t.stop[c] = true;
  t.stop[static_cast<unsigned char>('"')] = true;
  t.stop[static_cast<unsigned char>('\\')] = true;
  return t;
}();

// Flags (high bit of each byte) for the stop bytes among the eight at `p`; the
// lowest flag is exact (borrows only run upward).
inline std::uint64_t stop_flags8(const char* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  std::uint64_t q = v ^ (kOnes * '"');
  std::uint64_t b = v ^ (kOnes * '\\');
  return (((q - kOnes) & ~q) | ((b - kOnes) & ~b) | ((v - kOnes * 0x20) & ~v)) & kHighs;
}

// The first byte at or after `p` that ends a run of plain string content: a
// double quote, a backslash or a byte below 20 (hex); `end` if there is none.
// These are exactly the bytes that the parser must look at inside a string and
// that the printer must escape. Never reads outside [p, end): a short tail is
// checked by a window that ends at `end` and overlaps bytes already found plain.
inline const char* scan_string_run(const char* p, const char* end) noexcept {
#ifdef QUARN_SSE2
  if (end - p >= 16) {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i below = _mm_set1_epi8(0x1F);
    auto hits = [&](const char* at) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
      // Unsigned v <= 0x1F  <=>  min(v, 0x1F) == v.
      __m128i ctrl = _mm_cmpeq_epi8(_mm_min_epu8(v, below), v);
      __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)), ctrl);
      return static_cast<unsigned>(_mm_movemask_epi8(hit));
    };
    for (; end - p >= 16; p += 16) {
      unsigned mask = hits(p);
      if (mask != 0) return p + std::countr_zero(mask);
    }
    if (p == end) return end;
    const char* at = end - 16;
    unsigned mask = hits(at) >> (p - at);
    return mask != 0 ? p + std::countr_zero(mask) : end;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    if (end - p >= 8) {
      for (; end - p >= 8; p += 8) {
        std::uint64_t t = stop_flags8(p);
        if (t != 0) return p + (std::countr_zero(t) >> 3);
      }
      if (p == end) return end;
      const char* at = end - 8;
      std::uint64_t t = stop_flags8(at) >> (8 * (p - at));
      return t != 0 ? p + (std::countr_zero(t) >> 3) : end;
    }
  }
  while (p < end && !kStops.stop[static_cast<unsigned char>(*p)]) ++p;
  return p;
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

// Copies n bytes, sizeof(Word) <= n <= 2 * sizeof(Word), as two word moves:
// the first and the last word of [src, src + n), which overlap when n is less
// than two words. Both are loaded before either is stored.
template <class Word>
QUARN_ALWAYS_INLINE void copy_two_words(char* dst, const char* src, std::size_t n) noexcept {
  Word a, b;
  std::memcpy(&a, src, sizeof(Word));
  std::memcpy(&b, src + n - sizeof(Word), sizeof(Word));
  std::memcpy(dst, &a, sizeof(Word));
  std::memcpy(dst + n - sizeof(Word), &b, sizeof(Word));
}

// memcpy for the short strings that dominate JSON (names, codes), without a
// library call: overlapping fixed-size moves never touch a byte outside
// [src, src + n).
inline void copy_bytes(char* dst, const char* src, std::size_t n) noexcept {
  if (n >= 16) {
    std::memcpy(dst, src, n);
  } else if (n >= 8) {
    copy_two_words<std::uint64_t>(dst, src, n);
  } else if (n >= 4) {
    copy_two_words<std::uint32_t>(dst, src, n);
  } else if (n != 0) {
    dst[0] = src[0];
    dst[n / 2] = src[n / 2];
    dst[n - 1] = src[n - 1];
  }
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
  const int t = (static_cast<int>(std::bit_width(v | 1)) * 1233) >> 12;  // about log10(2) × bit width
  return t + 1 - (v < kPow[t]);
}

inline std::uint32_t load_be32(const char* p) noexcept {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::little) {
#if defined(__GNUC__) || defined(__clang__)
    v = __builtin_bswap32(v);
#else
    v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
#endif
  }
  return v;
}

// The first eight bytes of `s` as a big-endian number, zero-padded: when two
// names' prefixes differ, they order the names as name_less does. Built from
// loads that stay inside the name and never pass through memory (a short copy
// read back whole would stall store forwarding).
inline std::uint64_t name_prefix(std::string_view s) noexcept {
  const char* p = s.data();
  const std::size_t n = s.size();
  if (n >= 8) return (static_cast<std::uint64_t>(load_be32(p)) << 32) | load_be32(p + 4);
  if (n >= 4)  // two overlapping words; the shared bytes are the same in both
    return (static_cast<std::uint64_t>(load_be32(p)) << 32) |
           (static_cast<std::uint64_t>(load_be32(p + n - 4)) << (64 - 8 * n));
  std::uint64_t v = 0;
  if (n != 0) {
    v = static_cast<std::uint64_t>(static_cast<unsigned char>(p[0])) << 56;
    v |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[n / 2])) << (56 - 8 * (n / 2));
    v |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[n - 1])) << (56 - 8 * (n - 1));
  }
  return v;
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
