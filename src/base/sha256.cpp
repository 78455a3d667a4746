#include "base/sha256.h"

#include <cstring>

#include "base/sha256_paths.h"

namespace quarn {

Sha256::Sha256() noexcept : Sha256(sha256::selected_compress()) {}

Sha256::Sha256(Sha256Compress compress) noexcept : compress_(compress) {
  std::memcpy(state_, sha256::kInitialState, sizeof state_);
}

void Sha256::update(const char* data, std::size_t size) noexcept {
  if (size == 0) return;
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  const std::size_t held = static_cast<std::size_t>(length_ % 64);
  length_ += size;
  if (held != 0) {
    const std::size_t take = size < 64 - held ? size : 64 - held;
    std::memcpy(partial_ + held, p, take);
    if (held + take < 64) return;
    compress_(state_, partial_, 1);
    p += take;
    size -= take;
  }
  if (size >= 64) {
    compress_(state_, p, size / 64);
    p += size & ~std::size_t{63};
    size %= 64;
  }
  if (size != 0) std::memcpy(partial_, p, size);
}

std::array<unsigned char, 32> Sha256::digest() const noexcept {
  // Padding: the byte 0x80, zeros up to 56 bytes into a block, then the
  // message length in bits as a big-endian 64-bit number.
  std::uint32_t state[8];
  std::memcpy(state, state_, sizeof state);
  unsigned char last[128] = {};
  const std::size_t held = static_cast<std::size_t>(length_ % 64);
  std::memcpy(last, partial_, held);
  last[held] = 0x80;
  const std::size_t blocks = held < 56 ? 1 : 2;
  const std::uint64_t bits = length_ * 8;
  for (std::size_t i = 0; i < 8; ++i) last[blocks * 64 - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  compress_(state, last, blocks);

  std::array<unsigned char, 32> out;
  for (std::size_t i = 0; i < 32; ++i)
    out[i] = static_cast<unsigned char>(state[i / 4] >> (24 - 8 * (i % 4)));
  return out;
}

HashText Sha256::finish() const noexcept {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::array<unsigned char, 32> d = digest();
  HashText out;
  for (std::size_t i = 0; i < 32; ++i) {
    out[2 * i] = kHex[d[i] >> 4];
    out[2 * i + 1] = kHex[d[i] & 0xF];
  }
  return out;
}

HashText sha256_hex(std::string_view bytes) noexcept {
  Sha256 h;
  h.update(bytes.data(), bytes.size());
  return h.finish();
}

}  // namespace quarn
