#include "json/hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <new>
#include <utility>

#include "json/buffer.h"
#include "json/print.h"

namespace quarn::json {

namespace {
constexpr std::size_t kChunk = std::size_t{16} * 1024;  // printed text is hashed in pieces of this size

// The SHA-256 implementation, looked up once: with OpenSSL 3 an implicit
// lookup on every digest costs more than hashing a short text.
const EVP_MD* sha256_md() {
  static const EVP_MD* const md = [] {
#ifdef QUARN_OWN_LIBCRYPTO
    // This copy of libcrypto is the module's alone; the system's OpenSSL
    // configuration (providers, FIPS settings) is for the system's copy.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
#endif
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
    if (const EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA2-256", nullptr)) return fetched;
#endif
    return EVP_sha256();
  }();
  return md;
}

void to_hex(const unsigned char* digest, HashText& out) noexcept {
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < 32; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0xF];
  }
}
}  // namespace

Sha256::Sha256() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_ == nullptr) throw std::bad_alloc();
  if (EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), sha256_md(), nullptr) != 1) {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
    throw std::bad_alloc();
  }
}

Sha256::Sha256(Sha256&& other) noexcept : ctx_(std::exchange(other.ctx_, nullptr)) {}

Sha256::~Sha256() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void Sha256::update(const char* data, std::size_t size) {
  if (size == 0) return;
  if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size) != 1) throw std::bad_alloc();
}

HashText Sha256::finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), digest, &len) != 1 || len != 32)
    throw std::bad_alloc();
  HashText out;
  to_hex(digest, out);
  return out;
}

HashText sha256_hex(std::string_view bytes) {
  Sha256 h;
  h.update(bytes.data(), bytes.size());
  return h.finish();
}

HashText hash_json_value(const JsonValue& value) {
  Sha256 h;
  Buffer buf(kChunk);
  buf.set_sink(
      [](void* ctx, const char* data, std::size_t size) { static_cast<Sha256*>(ctx)->update(data, size); },
      &h);
  print_json(value, buf);
  buf.flush();
  return h.finish();
}

}  // namespace quarn::json
