// The byte scanners and the digit reader against their one-byte-at-a-time
// reference.
//
// Checked for any bytes and every start and end that cuts them: the word and
// the 16-byte builds of the string-run and whitespace scanners find the same
// byte as the reference, and never look outside the range (AddressSanitizer
// sees the input copied to a buffer of its exact size); the digits that start
// eight bytes are counted and valued alike. The first byte picks how the text
// is read: as it is, or mapped so that long runs of whitespace, of plain
// string content or of digits, broken by the odd other byte, are common.
#include <cstdint>
#include <cstring>
#include <memory>

#include "common.h"
#include "json/scan.h"

using namespace quarn::json::detail;

namespace {

char mapped(unsigned mode, unsigned char b) {
  if (b >= 0xF8) return static_cast<char>(b);  // kept: stops, quotes, high bytes
  switch (mode % 4) {
    case 3: return (b & 0xC0) == 0 ? static_cast<char>(b) : static_cast<char>('0' + (b % 10));
    case 1: return " \n\t\r"[b & 3];
    case 2:
      return (b & 0x70) == 0 ? static_cast<char>("\"\\\x1f\x01"[b & 3]) : static_cast<char>('a' + (b & 15));
    default: return static_cast<char>(b);
  }
}

void check_range(const char* p, const char* end) {
  const char* run = string_run_bytes(p, end);
  FUZZ_CHECK(string_run_words(p, end) == run);
  FUZZ_CHECK(scan_string_run(p, end) == run);
  const char* space = space_run_bytes(p, end);
  FUZZ_CHECK(space_run_words(p, end) == space);
  FUZZ_CHECK(skip_space_run(p, end) == space);
  if (end - p >= 8) {
    // The digits that start the eight bytes, counted and valued one at a time.
    int digits = 0;
    while (digits < 8 && p[digits] >= '0' && p[digits] <= '9') ++digits;
    for (int max = -20; max <= 9; ++max) {
      const int want = max <= 0 ? 0 : digits < max ? digits : max;
      std::uint64_t value = 0, got = ~std::uint64_t{0};
      for (int i = 0; i < want; ++i) value = value * 10 + static_cast<std::uint64_t>(p[i] - '0');
      FUZZ_CHECK(leading_digits8(p, max, got) == want);
      FUZZ_CHECK(got == value);
    }
  }
#ifdef QUARN_SSE2
  FUZZ_CHECK(string_run_sse2(p, end) == run);
  FUZZ_CHECK(space_run_sse2(p, end) == space);
#endif
#ifdef QUARN_NEON
  FUZZ_CHECK(string_run_neon(p, end) == run);
  FUZZ_CHECK(space_run_neon(p, end) == space);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  // The first three bytes pick the mode and where the range starts and ends
  // (each window alignment and tail of the wide builds); the rest is the text.
  const unsigned mode = data[0];
  const std::size_t n = size - 3;
  std::unique_ptr<char[]> text(new char[n == 0 ? 1 : n]);
  for (std::size_t i = 0; i < n; ++i) text[i] = mapped(mode, data[i + 3]);
  const char* begin = text.get();
  const std::size_t start = data[1] % (n + 1);
  const std::size_t cut = data[2] % (n - start + 1);
  check_range(begin, begin + n);
  check_range(begin + start, begin + n - cut);
  return 0;
}
