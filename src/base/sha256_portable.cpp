// SHA-256 compression in plain C++: any CPU, either byte order. Message words
// are read big-endian with shifts (compilers turn that into a load and a byte
// swap where the CPU has one). The sixteen-word schedule rolls in place and
// each group of sixteen rounds is written out, so the eight working variables
// stay in registers and never move: each round's arguments name them in the
// rotated order instead.
#include <cstddef>
#include <cstdint>

#include "base/sha256_paths.h"

namespace quarn::sha256 {

namespace {

constexpr std::uint32_t rotr(std::uint32_t x, int n) noexcept { return (x >> n) | (x << (32 - n)); }

// Sigma0(x) = ROTR2 ^ ROTR13 ^ ROTR22 and Sigma1(x) = ROTR6 ^ ROTR11 ^ ROTR25, with
// the rotations nested so that fewer values are live at once.
constexpr std::uint32_t big_sigma0(std::uint32_t x) noexcept { return rotr(x ^ rotr(x ^ rotr(x, 9), 11), 2); }
constexpr std::uint32_t big_sigma1(std::uint32_t x) noexcept { return rotr(x ^ rotr(x ^ rotr(x, 14), 5), 6); }
constexpr std::uint32_t small_sigma0(std::uint32_t x) noexcept { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
constexpr std::uint32_t small_sigma1(std::uint32_t x) noexcept {
  return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10);
}

// Ch(e, f, g) = (e & f) ^ (~e & g): where e has a one take f, else g.
constexpr std::uint32_t choose(std::uint32_t e, std::uint32_t f, std::uint32_t g) noexcept {
  return g ^ (e & (f ^ g));
}
// Maj(a, b, c) = (a & b) ^ (a & c) ^ (b & c): where a and b differ take c,
// else b. The next round's b ^ c is this round's a ^ b, so the compiler
// computes each such term once.
constexpr std::uint32_t majority(std::uint32_t a, std::uint32_t b, std::uint32_t c) noexcept {
  return b ^ ((a ^ b) & (b ^ c));
}

inline std::uint32_t load_big_endian(const unsigned char* p) noexcept {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// One round: d and h are the variables that change (d gains T1; h becomes
// T1 + T2 and is the next round's a).
inline void round(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d, std::uint32_t e,
                  std::uint32_t f, std::uint32_t g, std::uint32_t& h, std::uint32_t k_plus_w) noexcept {
  const std::uint32_t t1 = h + big_sigma1(e) + choose(e, f, g) + k_plus_w;
  d += t1;
  h = t1 + big_sigma0(a) + majority(a, b, c);
}

// W[i] for i >= 16, in place of W[i - 16] in the rolling sixteen words.
inline std::uint32_t next_word(std::uint32_t* w, std::size_t i) noexcept {
  w[i & 15] += small_sigma1(w[(i - 2) & 15]) + w[(i - 7) & 15] + small_sigma0(w[(i - 15) & 15]);
  return w[i & 15];
}

}  // namespace

void compress_portable(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) noexcept {
  for (; blocks != 0; --blocks, data += 64) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    std::uint32_t w[16];
    for (std::size_t i = 0; i < 16; ++i) w[i] = load_big_endian(data + 4 * i);

    const std::uint32_t* k = kRound;
    round(a, b, c, d, e, f, g, h, k[0] + w[0]);
    round(h, a, b, c, d, e, f, g, k[1] + w[1]);
    round(g, h, a, b, c, d, e, f, k[2] + w[2]);
    round(f, g, h, a, b, c, d, e, k[3] + w[3]);
    round(e, f, g, h, a, b, c, d, k[4] + w[4]);
    round(d, e, f, g, h, a, b, c, k[5] + w[5]);
    round(c, d, e, f, g, h, a, b, k[6] + w[6]);
    round(b, c, d, e, f, g, h, a, k[7] + w[7]);
    round(a, b, c, d, e, f, g, h, k[8] + w[8]);
    round(h, a, b, c, d, e, f, g, k[9] + w[9]);
    round(g, h, a, b, c, d, e, f, k[10] + w[10]);
    round(f, g, h, a, b, c, d, e, k[11] + w[11]);
    round(e, f, g, h, a, b, c, d, k[12] + w[12]);
    round(d, e, f, g, h, a, b, c, k[13] + w[13]);
    round(c, d, e, f, g, h, a, b, k[14] + w[14]);
    round(b, c, d, e, f, g, h, a, k[15] + w[15]);
    for (std::size_t i = 16; i < 64; i += 16) {
      k = kRound + i;
      round(a, b, c, d, e, f, g, h, k[0] + next_word(w, 0));
      round(h, a, b, c, d, e, f, g, k[1] + next_word(w, 1));
      round(g, h, a, b, c, d, e, f, k[2] + next_word(w, 2));
      round(f, g, h, a, b, c, d, e, k[3] + next_word(w, 3));
      round(e, f, g, h, a, b, c, d, k[4] + next_word(w, 4));
      round(d, e, f, g, h, a, b, c, k[5] + next_word(w, 5));
      round(c, d, e, f, g, h, a, b, k[6] + next_word(w, 6));
      round(b, c, d, e, f, g, h, a, k[7] + next_word(w, 7));
      round(a, b, c, d, e, f, g, h, k[8] + next_word(w, 8));
      round(h, a, b, c, d, e, f, g, k[9] + next_word(w, 9));
      round(g, h, a, b, c, d, e, f, k[10] + next_word(w, 10));
      round(f, g, h, a, b, c, d, e, k[11] + next_word(w, 11));
      round(e, f, g, h, a, b, c, d, k[12] + next_word(w, 12));
      round(d, e, f, g, h, a, b, c, k[13] + next_word(w, 13));
      round(c, d, e, f, g, h, a, b, k[14] + next_word(w, 14));
      round(b, c, d, e, f, g, h, a, k[15] + next_word(w, 15));
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

}  // namespace quarn::sha256
