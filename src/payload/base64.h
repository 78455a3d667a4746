// Strict Base64 decoding (standard alphabet A-Z a-z 0-9 + /).
//
// Accepted: a text whose length is a multiple of 4, made only of alphabet
// symbols, with canonical `=` padding in the last group only ("xx==" or
// "xxx="), and whose last symbol has its unused low bits zero. The empty text
// decodes to no bytes. Nothing else is accepted: no whitespace, no missing or
// extra padding, no URL-safe symbols.
#pragma once

#include <cstddef>
#include <string_view>

namespace quarn::payload {

// Room that decoding a text of `text_size` bytes needs: 3 bytes per group.
constexpr std::size_t base64_decoded_capacity(std::size_t text_size) noexcept { return text_size / 4 * 3; }

// Decodes `text` into `out`, which has room for
// base64_decoded_capacity(text.size()) bytes, and sets `size` to the number of
// bytes written. Returns false (contents of `out` unspecified) when `text` is
// not strict Base64.
bool base64_decode(std::string_view text, char* out, std::size_t& size) noexcept;

}  // namespace quarn::payload
