// SHA-256 compression with the ARMv8 SHA-2 instructions (AArch64, little
// endian). Only this file's function is compiled for them; the dispatch runs
// it only on a CPU that reports them.
//
// The state is two vectors, ABCD and EFGH (A in lane 0). sha256h gives ABCD
// and sha256h2 EFGH after four rounds, both from the state before them and
// the four rounds' W + K. sha256su0 and sha256su1 give the next four message
// words from the sixteen before them.
#include "base/sha256_paths.h"

#ifdef QUARN_SHA256_ARMV8_SHA2

#include <arm_neon.h>

// Where the whole file is built for the instructions (the build does so for
// compilers whose arm_neon.h offers them only then), no attribute is needed.
// GCC's arm_neon.h declares the SHA-2 intrinsics for "+crypto" (SHA-2 and
// AES), and a function may inline only what its own target covers.
#if defined(__ARM_FEATURE_SHA2)
#define QUARN_TARGET_SHA2
#elif defined(__clang__)
#define QUARN_TARGET_SHA2 __attribute__((target("sha2")))
#elif defined(__GNUC__)
#define QUARN_TARGET_SHA2 __attribute__((target("+crypto")))
#else
#define QUARN_TARGET_SHA2
#endif

namespace quarn::sha256 {

namespace {

QUARN_TARGET_SHA2 inline void four_rounds(uint32x4_t& abcd, uint32x4_t& efgh, uint32x4_t words,
                                          std::size_t quad) noexcept {
  const uint32x4_t wk = vaddq_u32(words, vld1q_u32(kRound + 4 * quad));
  const uint32x4_t abcd_in = abcd;
  abcd = vsha256hq_u32(abcd, efgh, wk);
  efgh = vsha256h2q_u32(efgh, abcd_in, wk);
}

// W[i..i+3] from w0 = W[i-16..i-13], w1 = W[i-12..i-9], w2 = W[i-8..i-5], w3 = W[i-4..i-1].
QUARN_TARGET_SHA2 inline uint32x4_t next_words(uint32x4_t w0, uint32x4_t w1, uint32x4_t w2,
                                               uint32x4_t w3) noexcept {
  return vsha256su1q_u32(vsha256su0q_u32(w0, w1), w2, w3);
}

// Four big-endian message words.
QUARN_TARGET_SHA2 inline uint32x4_t load_words(const unsigned char* p) noexcept {
  return vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(p)));
}

}  // namespace

QUARN_TARGET_SHA2 void compress_armv8_sha2(std::uint32_t state[8], const unsigned char* data,
                                           std::size_t blocks) noexcept {
  uint32x4_t abcd = vld1q_u32(state);
  uint32x4_t efgh = vld1q_u32(state + 4);
  for (; blocks != 0; --blocks, data += 64) {
    const uint32x4_t abcd_in = abcd, efgh_in = efgh;
    uint32x4_t w0 = load_words(data);
    uint32x4_t w1 = load_words(data + 16);
    uint32x4_t w2 = load_words(data + 32);
    uint32x4_t w3 = load_words(data + 48);

    four_rounds(abcd, efgh, w0, 0);
    four_rounds(abcd, efgh, w1, 1);
    four_rounds(abcd, efgh, w2, 2);
    four_rounds(abcd, efgh, w3, 3);
    for (std::size_t quad = 4; quad < 16; quad += 4) {
      w0 = next_words(w0, w1, w2, w3);
      four_rounds(abcd, efgh, w0, quad);
      w1 = next_words(w1, w2, w3, w0);
      four_rounds(abcd, efgh, w1, quad + 1);
      w2 = next_words(w2, w3, w0, w1);
      four_rounds(abcd, efgh, w2, quad + 2);
      w3 = next_words(w3, w0, w1, w2);
      four_rounds(abcd, efgh, w3, quad + 3);
    }
    abcd = vaddq_u32(abcd, abcd_in);
    efgh = vaddq_u32(efgh, efgh_in);
  }
  vst1q_u32(state, abcd);
  vst1q_u32(state + 4, efgh);
}

}  // namespace quarn::sha256

#endif
