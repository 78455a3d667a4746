// Byte scanning shared by the parser and the printer (internal).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUARN_SSE2 1
#elif defined(__aarch64__) && defined(__ARM_NEON) && (defined(__GNUC__) || defined(__clang__))
#include <arm_neon.h>
#define QUARN_NEON 1
#endif

#if defined(__GNUC__) || defined(__clang__)
#define QUARN_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#define QUARN_ALWAYS_INLINE inline
#endif

namespace quarn::json::detail {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// The scanners below come in up to four builds of the same function: one byte
// at a time (`_bytes`, the reference), a 64-bit word at a time (`_words`, any
// CPU of either byte order), and 16 bytes at a time with SSE2 (x86-64) or NEON
// (arm64). `scan_string_run` and `skip_space_run` pick the widest one the
// target has; the fuzz target fuzz_scan checks every build against the
// reference.

// JSON's whitespace: space, tab, line feed, carriage return.
QUARN_ALWAYS_INLINE bool is_space(unsigned char c) noexcept {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

// Bytes that end a run of plain string content: a double quote, a backslash or
// a byte below 20 (hex). These are exactly the bytes that the parser must look
// at inside a string and that the printer must escape.
QUARN_ALWAYS_INLINE bool is_string_stop(unsigned char c) noexcept {
  return c < 0x20 || c == '"' || c == '\\';
}

inline const char* string_run_bytes(const char* p, const char* end) noexcept {
  while (p < end && !is_string_stop(static_cast<unsigned char>(*p))) ++p;
  return p;
}

inline const char* space_run_bytes(const char* p, const char* end) noexcept {
  while (p < end && is_space(static_cast<unsigned char>(*p))) ++p;
  return p;
}

// The first of the bytes in [p, end) whose flag `hits` sets, `kWidth` bytes
// at a time, for hits that give `kBits` bits per byte in memory order from the
// lowest bit, and whose lowest set bit is exact (a flag may be wrong only above
// a true one); a range shorter than kWidth goes to `narrower`. Never reads
// outside [p, end): a short tail is checked by a window that ends at `end` and
// overlaps bytes already found unflagged.
template <std::ptrdiff_t kWidth, int kBits, class Hits, class Narrower>
QUARN_ALWAYS_INLINE const char* first_hit(const char* p, const char* end, Hits hits,
                                          Narrower narrower) noexcept {
  if (end - p < kWidth) return narrower(p, end);
  for (; end - p >= kWidth; p += kWidth) {
    const std::uint64_t m = hits(p);
    if (m != 0) return p + std::countr_zero(m) / kBits;
  }
  if (p == end) return end;
  const char* at = end - kWidth;
  const std::uint64_t m = hits(at) >> (kBits * (p - at));
  return m != 0 ? p + std::countr_zero(m) / kBits : end;
}

// Eight bytes as a number whose lowest byte is the first in memory.
inline std::uint64_t load_le64(const char* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) {
#if defined(__GNUC__) || defined(__clang__)
    v = __builtin_bswap64(v);
#else
    std::uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r |= ((v >> (8 * i)) & 0xFF) << (8 * (7 - i));
    v = r;
#endif
  }
  return v;
}

// High bit of every byte of `x` that is zero, exactly (no borrow between bytes).
QUARN_ALWAYS_INLINE std::uint64_t zero_bytes(std::uint64_t x) noexcept {
  return ~(((x & ~kHighs) + ~kHighs) | x) & kHighs;
}

// Flags (high bit of each byte) for the string stops among the eight bytes at
// `p`; the lowest flag is exact (borrows only run upward).
QUARN_ALWAYS_INLINE std::uint64_t string_stops8(const char* p) noexcept {
  const std::uint64_t v = load_le64(p);
  const std::uint64_t q = v ^ (kOnes * '"');
  const std::uint64_t b = v ^ (kOnes * '\\');
  return (((q - kOnes) & ~q) | ((b - kOnes) & ~b) | ((v - kOnes * 0x20) & ~v)) & kHighs;
}

// Flags for the bytes among the eight at `p` that are not whitespace; exact.
QUARN_ALWAYS_INLINE std::uint64_t non_space8(const char* p) noexcept {
  const std::uint64_t v = load_le64(p);
  return ~(zero_bytes(v ^ (kOnes * ' ')) | zero_bytes(v ^ (kOnes * '\n')) | zero_bytes(v ^ (kOnes * '\t')) |
           zero_bytes(v ^ (kOnes * '\r'))) &
         kHighs;
}

inline const char* string_run_words(const char* p, const char* end) noexcept {
  return first_hit<8, 8>(p, end, string_stops8, string_run_bytes);
}

inline const char* space_run_words(const char* p, const char* end) noexcept {
  return first_hit<8, 8>(p, end, non_space8, space_run_bytes);
}

#ifdef QUARN_SSE2
QUARN_ALWAYS_INLINE std::uint64_t string_stops16_sse2(const char* p) noexcept {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // Unsigned v <= 0x1F  <=>  min(v, 0x1F) == v.
  const __m128i ctrl = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
  const __m128i hit = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))), ctrl);
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}

QUARN_ALWAYS_INLINE std::uint64_t non_space16_sse2(const char* p) noexcept {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i space = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
  return static_cast<unsigned>(_mm_movemask_epi8(space)) ^ 0xFFFFu;
}

inline const char* string_run_sse2(const char* p, const char* end) noexcept {
  return first_hit<16, 1>(p, end, string_stops16_sse2, string_run_words);
}

inline const char* space_run_sse2(const char* p, const char* end) noexcept {
  return first_hit<16, 1>(p, end, non_space16_sse2, space_run_words);
}
#endif

#ifdef QUARN_NEON
// Four bits per byte (all set for a flagged byte), in memory order.
QUARN_ALWAYS_INLINE std::uint64_t nibble_mask(uint8x16_t flags) noexcept {
  return vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(flags), 4)), 0);
}

QUARN_ALWAYS_INLINE std::uint64_t string_stops16_neon(const char* p) noexcept {
  const uint8x16_t v = vld1q_u8(reinterpret_cast<const std::uint8_t*>(p));
  const uint8x16_t hit = vorrq_u8(vorrq_u8(vceqq_u8(v, vdupq_n_u8('"')), vceqq_u8(v, vdupq_n_u8('\\'))),
                                  vcltq_u8(v, vdupq_n_u8(0x20)));
  return nibble_mask(hit);
}

QUARN_ALWAYS_INLINE std::uint64_t non_space16_neon(const char* p) noexcept {
  const uint8x16_t v = vld1q_u8(reinterpret_cast<const std::uint8_t*>(p));
  const uint8x16_t space = vorrq_u8(vorrq_u8(vceqq_u8(v, vdupq_n_u8(' ')), vceqq_u8(v, vdupq_n_u8('\n'))),
                                    vorrq_u8(vceqq_u8(v, vdupq_n_u8('\t')), vceqq_u8(v, vdupq_n_u8('\r'))));
  return nibble_mask(vmvnq_u8(space));
}

inline const char* string_run_neon(const char* p, const char* end) noexcept {
  return first_hit<16, 4>(p, end, string_stops16_neon, string_run_words);
}

inline const char* space_run_neon(const char* p, const char* end) noexcept {
  return first_hit<16, 4>(p, end, non_space16_neon, space_run_words);
}
#endif

// The first byte at or after `p` that ends a run of plain string content (see
// is_string_stop); `end` if there is none.
inline const char* scan_string_run(const char* p, const char* end) noexcept {
#if defined(QUARN_SSE2)
  return string_run_sse2(p, end);
#elif defined(QUARN_NEON)
  return string_run_neon(p, end);
#else
  return string_run_words(p, end);
#endif
}

// The first byte at or after `p` that is not whitespace; `end` if there is none.
inline const char* skip_space_run(const char* p, const char* end) noexcept {
#if defined(QUARN_SSE2)
  return space_run_sse2(p, end);
#elif defined(QUARN_NEON)
  return space_run_neon(p, end);
#else
  return space_run_words(p, end);
#endif
}

// The number of ASCII digits, at most `max` (none when `max` is 0 or less), that start the eight
// bytes at `p`, and in `value` the number those digits write. Any CPU: the
// bytes are read in memory order (load_le64), and every step below is exact
// for the digits before the first other byte; what the steps do to the bytes
// after it (a borrow or a carry) is shifted out before the value is formed.
QUARN_ALWAYS_INLINE int leading_digits8(const char* p, int max, std::uint64_t& value) noexcept {
  const std::uint64_t t = load_le64(p) - kOnes * '0';
  // High bit of every byte that is not a digit (its t is 10 or more, or wrapped).
  const std::uint64_t other = ((t + kOnes * 0x76) | t) & kHighs;
  int k = other == 0 ? 8 : std::countr_zero(other) >> 3;
  if (k > max) k = max;
  if (k <= 0) {  // also a `max` below 0: no room left
    value = 0;
    return 0;
  }
  // The k digits to the top bytes, zeros (leading zero digits) below them.
  std::uint64_t v = t << (8 * (8 - k));
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
       (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
      32;
  value = v;
  return k;
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
