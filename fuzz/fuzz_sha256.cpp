// Every SHA-256 path this CPU runs against the portable one: the input is
// hashed whole by the portable path, then by each hardware path in pieces
// whose split points come from the input's first bytes, from an offset that
// the input chooses; then each path hashes its own digest again a few times
// (digests of digests), as bytes and as hash text. On a CPU without a hardware
// path the portable path in pieces is checked against itself whole. The
// portable path is checked against Python's hashlib by scripts/check-sha256.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/sha256.h"
#include "base/sha256_paths.h"
#include "common.h"

using quarn::Sha256;
using quarn::sha256::Path;

namespace {

Sha256 on(Path p) { return Sha256(quarn::sha256::path_compress(p)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Header: offset (1 byte), rounds of digests of digests (1 byte), then up to
  // 8 bytes that drive the split points; the rest is the message.
  const std::size_t head = size < 10 ? size : 10;
  const std::size_t offset = head > 0 ? data[0] % 64 : 0;
  const int rounds = head > 1 ? data[1] % 8 : 0;
  std::uint64_t splits = 0;
  for (std::size_t i = 2; i < head; ++i) splits = (splits << 8) | data[i];
  const std::size_t n = size - head;
  std::vector<char> buffer(n + 64);
  std::memcpy(buffer.data() + offset, data + head, n);
  const char* message = buffer.data() + offset;

  Sha256 reference = on(Path::Portable);
  reference.update(message, n);
  const quarn::HashText want = reference.finish();

  // Each hardware path this CPU runs; the portable one itself (in pieces) where there is none.
  const bool hardware = quarn::sha256::selected_path() != Path::Portable;
  for (Path p : quarn::sha256::kAllPaths) {
    if (!quarn::sha256::path_available(p) || (hardware && p == Path::Portable)) continue;
    Sha256 h = on(p);
    std::uint64_t s = splits | 1;
    std::size_t at = 0;
    while (at < n) {
      // xorshift: piece lengths of 0 to 200 bytes, or the rest.
      s ^= s << 13;
      s ^= s >> 7;
      s ^= s << 17;
      std::size_t piece = (s & 7) == 0 ? n - at : static_cast<std::size_t>((s >> 8) % 201);
      if (piece > n - at) piece = n - at;
      h.update(message + at, piece);
      at += piece;
    }
    FUZZ_CHECK(h.finish() == want);
    // A copy goes on independently of the original.
    Sha256 copy = h;
    copy.update(message, n < 100 ? n : 100);
    FUZZ_CHECK(h.finish() == want);

    std::array<unsigned char, 32> bytes = h.digest();
    quarn::HashText text = want;
    std::array<unsigned char, 32> bytes_ref = bytes;
    quarn::HashText text_ref = want;
    for (int r = 0; r < rounds; ++r) {
      Sha256 a = on(p), b = on(p), ra = on(Path::Portable), rb = on(Path::Portable);
      a.update(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      b.update(text.data(), text.size());
      ra.update(reinterpret_cast<const char*>(bytes_ref.data()), bytes_ref.size());
      rb.update(text_ref.data(), text_ref.size());
      bytes = a.digest();
      text = b.finish();
      bytes_ref = ra.digest();
      text_ref = rb.finish();
      FUZZ_CHECK(bytes == bytes_ref && text == text_ref);
    }
  }
  return 0;
}
