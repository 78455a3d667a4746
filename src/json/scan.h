// Byte scanning shared by the parser and the printer (internal).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace quarn::json::detail {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// The first byte at or after `p` that ends a run of plain string content: a
// double quote, a backslash or a byte below 20 (hex); `end` if there is none.
// These are exactly the bytes that the parser must look at inside a string and
// that the printer must escape.
inline const char* scan_string_run(const char* p, const char* end) noexcept {
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

}  // namespace quarn::json::detail
