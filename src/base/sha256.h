// SHA-256 (FIPS 180-4), streamed, as 64 lower-case hexadecimal characters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarn {

// The hash text: two lower-case hex characters per digest byte, in order.
using HashText = std::array<char, 64>;

inline std::string_view as_view(const HashText& h) noexcept { return {h.data(), h.size()}; }

// Compresses `blocks` whole 64-byte blocks at `data` into the eight state
// words. One function per instruction set; see sha256_paths.h.
using Sha256Compress = void (*)(std::uint32_t state[8], const unsigned char* data,
                                std::size_t blocks) noexcept;

// Incremental SHA-256: update() any number of times, then finish(). A plain
// value (copyable, nothing to give back); it allocates nothing and cannot
// fail. Whole blocks are compressed straight from the caller's bytes; only a
// partial block is kept.
class Sha256 {
 public:
  // With the compression function chosen for this CPU.
  Sha256() noexcept;
  // With a given compression function (the checks run each path alone).
  explicit Sha256(Sha256Compress compress) noexcept;

  void update(const char* data, std::size_t size) noexcept;
  // The digest of everything given so far, as bytes and as hash text; the
  // object is left as it was.
  std::array<unsigned char, 32> digest() const noexcept;
  HashText finish() const noexcept;

 private:
  Sha256Compress compress_;
  std::uint64_t length_ = 0;  // bytes given so far
  std::uint32_t state_[8];
  unsigned char partial_[64];  // the first length_ % 64 bytes are the partial block
};

// The hash text of `bytes`.
HashText sha256_hex(std::string_view bytes) noexcept;

}  // namespace quarn
