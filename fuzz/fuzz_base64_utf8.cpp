// Base64 decoding and lossy UTF-8, against the reference implementations.
//
// Checked for any bytes: strict Base64 decoding accepts exactly what the
// reference accepts, with the same bytes, and decodes the reference encoding
// of the input back to the input; the lossy UTF-8 form has the announced
// size, is well-formed, equals the reference substitution of maximal
// subparts and leaves well-formed input unchanged; the validator agrees with
// the reference's longest well-formed prefix.
#include <cstdint>
#include <string>

#include "base/utf8.h"
#include "common.h"
#include "payload/base64.h"

using namespace quarn;

namespace {

std::optional<std::string> decode(std::string_view text) {
  std::string out(payload::base64_decoded_capacity(text.size()), '\0');
  std::size_t n = ~std::size_t{0};
  if (!payload::base64_decode(text, out.data(), n)) return std::nullopt;
  FUZZ_CHECK(n <= out.size());
  out.resize(n);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view in = fuzzref::as_text(data, size);

  auto got = decode(in);
  auto want = fuzzref::base64_decode(in);
  FUZZ_CHECK(got.has_value() == want.has_value());
  if (got) FUZZ_CHECK(*got == *want);
  std::string encoded = fuzzref::base64_encode(in);
  auto round = decode(encoded);
  FUZZ_CHECK(round && *round == in);

  std::size_t prefix = fuzzref::utf8_valid_prefix(in);
  FUZZ_CHECK(utf8_valid_prefix(in) == prefix);
  FUZZ_CHECK(is_valid_utf8(in) == (prefix == size));
  std::size_t n = utf8_lossy_size(in);
  std::string out(n + 1, '\x7f');
  char* end = utf8_lossy_write(in, out.data());
  FUZZ_CHECK(end == out.data() + n && out[n] == '\x7f');
  out.resize(n);
  FUZZ_CHECK(fuzzref::utf8_valid(out));
  FUZZ_CHECK(out == fuzzref::utf8_lossy(in));
  if (prefix == size) FUZZ_CHECK(out == in);
  Arena arena;
  FUZZ_CHECK(utf8_lossy(in, arena) == out);
  return 0;
}
