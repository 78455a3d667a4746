#include "base/utf8.h"

#include <cassert>
#include <cstdint>
#include <cstring>

namespace quarn {

namespace {

using Byte = unsigned char;

constexpr char kReplacement[3] = {'\xEF', '\xBF', '\xBD'};  // U+FFFD

// At a byte of 80 (hex) or above: the length of the well-formed sequence that
// starts at `p` (2 to 4), or 0 with `bad` set to the length of the maximal
// ill-formed subpart there (1 to 3). The allowed second bytes follow the
// Standard's table of well-formed sequences.
inline std::size_t sequence_at(const Byte* p, const Byte* end, std::size_t& bad) noexcept {
  const Byte c = p[0];
  std::size_t need;
  Byte lo = 0x80, hi = 0xBF;
  if (c < 0xC2 || c >= 0xF5) {  // a continuation byte, an overlong lead, or past U+10FFFF
    bad = 1;
    return 0;
  }
  if (c < 0xE0) {
    need = 2;
  } else if (c < 0xF0) {
    need = 3;
    if (c == 0xE0) lo = 0xA0;
    else if (c == 0xED) hi = 0x9F;
  } else {
    need = 4;
    if (c == 0xF0) lo = 0x90;
    else if (c == 0xF4) hi = 0x8F;
  }
  const std::size_t avail = static_cast<std::size_t>(end - p);
  if (avail < 2 || p[1] < lo || p[1] > hi) {
    bad = 1;
    return 0;
  }
  for (std::size_t i = 2; i < need; ++i) {
    if (i >= avail || (p[i] & 0xC0) != 0x80) {
      bad = i;
      return 0;
    }
  }
  return need;
}

// The end of the well-formed run that starts at `p`. ASCII is checked eight
// bytes at a time; two- and three-byte sequences with plain continuation
// bytes are taken inline, and only the rest go through `sequence_at`.
inline const Byte* valid_run_end(const Byte* p, const Byte* end) noexcept {
  while (p != end) {
    if (end - p >= 8) {
      std::uint64_t v;
      std::memcpy(&v, p, 8);
      if ((v & 0x8080808080808080ull) == 0) {
        p += 8;
        continue;
      }
    }
    const Byte c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    const std::size_t avail = static_cast<std::size_t>(end - p);
    if (c >= 0xC2 && c <= 0xDF && avail >= 2 && (p[1] & 0xC0) == 0x80) {
      p += 2;
      continue;
    }
    if (c >= 0xE1 && c <= 0xEF && c != 0xED && avail >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
      p += 3;
      continue;
    }
    std::size_t bad;
    const std::size_t len = sequence_at(p, end, bad);
    if (len == 0) return p;
    p += len;
  }
  return p;
}

// Calls `run(begin, length)` for every well-formed run and `replace()` for
// every maximal ill-formed subpart, in order.
template <class Run, class Replace>
inline void for_each_piece(std::string_view bytes, Run&& run, Replace&& replace) {
  const Byte* p = reinterpret_cast<const Byte*>(bytes.data());
  const Byte* end = p + bytes.size();
  while (p != end) {
    const Byte* q = valid_run_end(p, end);
    if (q != p) run(p, static_cast<std::size_t>(q - p));
    if (q == end) return;
    std::size_t bad = 1;
    sequence_at(q, end, bad);
    replace();
    p = q + bad;
  }
}

}  // namespace

std::size_t utf8_valid_prefix(std::string_view bytes) noexcept {
  const Byte* p = reinterpret_cast<const Byte*>(bytes.data());
  return static_cast<std::size_t>(valid_run_end(p, p + bytes.size()) - p);
}

std::size_t utf8_lossy_size(std::string_view bytes) noexcept {
  std::size_t n = 0;
  for_each_piece(
      bytes, [&](const Byte*, std::size_t len) { n += len; }, [&] { n += sizeof kReplacement; });
  return n;
}

char* utf8_lossy_write(std::string_view bytes, char* out) noexcept {
  for_each_piece(
      bytes,
      [&](const Byte* p, std::size_t len) {
        std::memcpy(out, p, len);
        out += len;
      },
      [&] {
        std::memcpy(out, kReplacement, sizeof kReplacement);
        out += sizeof kReplacement;
      });
  return out;
}

std::string_view utf8_lossy(std::string_view bytes, Arena& arena) {
  const std::size_t valid = utf8_valid_prefix(bytes);
  if (valid == bytes.size()) return {arena.copy_bytes(bytes), bytes.size()};
  std::string_view rest = bytes.substr(valid);
  const std::size_t size = valid + utf8_lossy_size(rest);
  char* out = arena.allocate_array<char>(size);
  std::memcpy(out, bytes.data(), valid);
  [[maybe_unused]] char* w = utf8_lossy_write(rest, out + valid);
  assert(w == out + size);
  return {out, size};
}

}  // namespace quarn
