// SHA-256 (OpenSSL's libcrypto), as 64 lower-case hexadecimal characters.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quarn {

// The hash text: two lower-case hex characters per digest byte, in order.
using HashText = std::array<char, 64>;

inline std::string_view as_view(const HashText& h) noexcept { return {h.data(), h.size()}; }

// Incremental SHA-256 (OpenSSL's libcrypto). Move-only; a failure of the
// library (only on out-of-memory) throws std::bad_alloc.
class Sha256 {
 public:
  Sha256();
  Sha256(Sha256&& other) noexcept;
  Sha256& operator=(Sha256&&) = delete;
  Sha256(const Sha256&) = delete;
  ~Sha256();  // NOLINT(performance-trivially-destructible): gives back the EVP context where one is used
  void update(const char* data, std::size_t size);
  HashText finish();

 private:
  // OpenSSL's low-level SHA256_CTX held in place, or (where libcrypto lacks
  // those functions) a pointer to an EVP_MD_CTX; sha256.cpp checks the size.
  alignas(8) unsigned char state_[128];
};

// The hash text of `bytes`.
HashText sha256_hex(std::string_view bytes);

}  // namespace quarn
