// UTF-8: checking that bytes are well-formed, and turning any bytes into a
// well-formed string (lossy decoding).
//
// Well-formed is the Unicode Standard's table of well-formed sequences: no
// overlong forms, no surrogates (ED A0..BF), nothing above U+10FFFF.
//
// Lossy decoding: each maximal ill-formed subsequence is replaced by one U+FFFD (the Unicode
// Standard's "substitution of maximal subparts"): at a byte that cannot start
// a well-formed sequence, or that starts one which breaks off, the lead byte
// and the continuation bytes that still fit the sequence's allowed ranges
// become one U+FFFD, and reading resumes at the first byte that did not fit.
// So overlong forms (C0 AF, E0 80 80), surrogates (ED A0 80) and code points
// above U+10FFFF (F4 90 ..) give one U+FFFD per byte, while a sequence cut
// short (E1 80, F0 90 80) gives a single U+FFFD.
#pragma once

#include <cstddef>
#include <string_view>

#include "base/arena.h"

namespace quarn {

// Length of the longest prefix of `bytes` that is well-formed UTF-8.
std::size_t utf8_valid_prefix(std::string_view bytes) noexcept;

// True when all of `bytes` is well-formed UTF-8.
inline bool is_valid_utf8(std::string_view bytes) noexcept {
  return utf8_valid_prefix(bytes) == bytes.size();
}

// Exact byte length of the lossy form of `bytes`.
std::size_t utf8_lossy_size(std::string_view bytes) noexcept;

// Writes the lossy form of `bytes` to `out` (room for utf8_lossy_size(bytes)
// bytes) and returns the end of what was written.
char* utf8_lossy_write(std::string_view bytes, char* out) noexcept;

// The lossy form of `bytes` as a string in `arena`. Well-formed input is
// validated and copied once; otherwise the exact size is computed and the
// result written once.
std::string_view utf8_lossy(std::string_view bytes, Arena& arena);

}  // namespace quarn
