#include "payload/base64.h"

#include <array>
#include <cstdint>

namespace quarn::payload {

namespace {

constexpr std::uint8_t kBad = 0x80;  // any byte outside the alphabet, '=' included

constexpr std::array<std::uint8_t, 256> make_table() {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = kBad;
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(alphabet[i])] = i;
  return t;
}

constexpr std::array<std::uint8_t, 256> kDecode = make_table();

inline std::uint32_t sym(char c) noexcept { return kDecode[static_cast<unsigned char>(c)]; }

}  // namespace

bool base64_decode(std::string_view text, char* out, std::size_t& size) noexcept {
  const std::size_t n = text.size();
  size = 0;
  if (n == 0) return true;
  if (n % 4 != 0) return false;
  const char* p = text.data();
  const char* last = p + n - 4;
  char* w = out;
  for (; p != last; p += 4) {
    const std::uint32_t a = sym(p[0]), b = sym(p[1]), c = sym(p[2]), d = sym(p[3]);
    if (((a | b | c | d) & kBad) != 0) return false;
    const std::uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
    w[0] = static_cast<char>(v >> 16);
    w[1] = static_cast<char>(v >> 8);
    w[2] = static_cast<char>(v);
    w += 3;
  }
  // The last group carries the padding, if any.
  const std::uint32_t a = sym(p[0]), b = sym(p[1]);
  if (((a | b) & kBad) != 0) return false;
  if (p[3] != '=') {
    const std::uint32_t c = sym(p[2]), d = sym(p[3]);
    if (((c | d) & kBad) != 0) return false;
    const std::uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
    w[0] = static_cast<char>(v >> 16);
    w[1] = static_cast<char>(v >> 8);
    w[2] = static_cast<char>(v);
    w += 3;
  } else if (p[2] == '=') {
    // "xx==": one byte; the low four bits of the second symbol are unused.
    if ((b & 0x0F) != 0) return false;
    *w++ = static_cast<char>((a << 2) | (b >> 4));
  } else {
    // "xxx=": two bytes; the low two bits of the third symbol are unused.
    const std::uint32_t c = sym(p[2]);
    if ((c & kBad) != 0 || (c & 0x03) != 0) return false;
    const std::uint32_t v = (a << 10) | (b << 4) | (c >> 2);
    w[0] = static_cast<char>(v >> 8);
    w[1] = static_cast<char>(v);
    w += 2;
  }
  size = static_cast<std::size_t>(w - out);
  return true;
}

}  // namespace quarn::payload
