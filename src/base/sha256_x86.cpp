// SHA-256 compression with the x86 SHA extensions (SHA-NI), on x86-64 and
// 32-bit x86. Only this file's functions are compiled for SHA, SSE4.1 and
// SSSE3; the dispatch runs them only on a CPU that reports all three.
//
// sha256rnds2 does two rounds on the state held as two vectors, ABEF and
// CDGH (A in the top lane), with the two rounds' W + K in the low lanes of its
// third operand. Four rounds are two of them, the second taking the upper
// half of the same W + K vector; the state vectors swap roles after each.
// sha256msg1 and sha256msg2, with the W[i - 7] terms added between them,
// give the next four message words from the sixteen before them.
#include "base/sha256_paths.h"

#ifdef QUARN_SHA256_X86_SHA

#include <immintrin.h>

#if defined(__GNUC__) || defined(__clang__)
#define QUARN_TARGET_SHA __attribute__((target("sha,sse4.1,ssse3")))
#else
#define QUARN_TARGET_SHA
#endif

namespace quarn::sha256 {

namespace {

// Four rounds: W + K of rounds i..i+3 in `wk`, i = 4 * `quad`.
QUARN_TARGET_SHA inline void four_rounds(__m128i& abef, __m128i& cdgh, __m128i words,
                                         std::size_t quad) noexcept {
  const __m128i wk =
      _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * quad)));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

// W[i..i+3] from w0 = W[i-16..i-13], w1 = W[i-12..i-9], w2 = W[i-8..i-5], w3 = W[i-4..i-1].
QUARN_TARGET_SHA inline __m128i next_words(__m128i w0, __m128i w1, __m128i w2, __m128i w3) noexcept {
  const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(w0, w1), _mm_alignr_epi8(w3, w2, 4));
  return _mm_sha256msg2_epu32(partial, w3);
}

}  // namespace

QUARN_TARGET_SHA void compress_x86_sha(std::uint32_t state[8], const unsigned char* data,
                                       std::size_t blocks) noexcept {
  // Big-endian words: reverse the bytes of each 32-bit lane.
  const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

  // state[0..3] = A B C D and state[4..7] = E F G H (lane 0 first) become
  // ABEF = (F, E, B, A) and CDGH = (H, G, D, C).
  // (Lanes are listed from lane 0 up.)
  const __m128i badc = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  const __m128i hgfe = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(badc, hgfe, 8);     // F E B A
  __m128i cdgh = _mm_blend_epi16(hgfe, badc, 0xF0);  // H G D C

  for (; blocks != 0; --blocks, data += 64) {
    const __m128i abef_in = abef, cdgh_in = cdgh;
    const auto* in = reinterpret_cast<const __m128i*>(data);
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in), swap);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), swap);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), swap);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), swap);

    four_rounds(abef, cdgh, w0, 0);
    four_rounds(abef, cdgh, w1, 1);
    four_rounds(abef, cdgh, w2, 2);
    four_rounds(abef, cdgh, w3, 3);
    for (std::size_t quad = 4; quad < 16; quad += 4) {
      w0 = next_words(w0, w1, w2, w3);
      four_rounds(abef, cdgh, w0, quad);
      w1 = next_words(w1, w2, w3, w0);
      four_rounds(abef, cdgh, w1, quad + 1);
      w2 = next_words(w2, w3, w0, w1);
      four_rounds(abef, cdgh, w2, quad + 2);
      w3 = next_words(w3, w0, w1, w2);
      four_rounds(abef, cdgh, w3, quad + 3);
    }
    abef = _mm_add_epi32(abef, abef_in);
    cdgh = _mm_add_epi32(cdgh, cdgh_in);
  }

  // Back to A..D and E..H.
  const __m128i abef_up = _mm_shuffle_epi32(abef, 0x1B);                                       // A B E F
  const __m128i ghcd = _mm_shuffle_epi32(cdgh, 0xB1);                                          // G H C D
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(abef_up, ghcd, 0xF0));   // A B C D
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(ghcd, abef_up, 8));  // E F G H
}

}  // namespace quarn::sha256

#endif
