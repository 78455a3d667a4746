#include "base/sha256.h"

// SHA-256 comes from libcrypto in one of two ways, chosen when the module is
// built. OpenSSL's low-level functions (SHA256_Init/Update/Final) keep their
// state in a plain struct, held here in place: no allocation, no provider
// lookup, no set-up beyond the eight initial words. OpenSSL 3 marks them
// deprecated and a build of OpenSSL without deprecated interfaces lacks them;
// there, or when the build asks for it (QUARN_SHA256_EVP), the EVP interface
// serves, whose per-digest set-up costs as much as hashing a short text.
// Both run the same assembly and give the same digests.
#ifdef QUARN_SHA256_LOW_LEVEL
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>
#else
#include <openssl/crypto.h>
#include <openssl/evp.h>
#endif

#include <cstring>
#include <new>
#include <utility>

namespace quarn {

namespace {

void to_hex(const unsigned char* digest, HashText& out) noexcept {
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < 32; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0xF];
  }
}

}  // namespace

#ifdef QUARN_SHA256_LOW_LEVEL

namespace {
SHA256_CTX* state(unsigned char* bytes) noexcept {
  return std::launder(reinterpret_cast<SHA256_CTX*>(bytes));
}
}  // namespace

Sha256::Sha256() {
  static_assert(sizeof(SHA256_CTX) <= sizeof(state_) && alignof(SHA256_CTX) <= 8,
                "SHA256_CTX fits the state kept in Sha256");
  if (SHA256_Init(new (state_) SHA256_CTX) != 1) throw std::bad_alloc();
}

Sha256::Sha256(Sha256&& other) noexcept { std::memcpy(state_, other.state_, sizeof(SHA256_CTX)); }

Sha256::~Sha256() = default;

void Sha256::update(const char* data, std::size_t size) {
  if (size == 0) return;
  if (SHA256_Update(state(state_), data, size) != 1) throw std::bad_alloc();
}

HashText Sha256::finish() {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  if (SHA256_Final(digest, state(state_)) != 1) throw std::bad_alloc();
  HashText out;
  to_hex(digest, out);
  return out;
}

#else

namespace {
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

// Digest contexts kept per thread between calls: creating and setting up a
// context costs more than hashing a short text. A context in use is taken out
// of its slot, so nested or concurrent digests on one thread get their own;
// two slots serve the calls that keep two digests going at once.
struct SpareContexts {
  EVP_MD_CTX* ctx[2] = {nullptr, nullptr};
  SpareContexts() = default;
  SpareContexts(const SpareContexts&) = delete;
  SpareContexts& operator=(const SpareContexts&) = delete;
  ~SpareContexts() {
    for (EVP_MD_CTX* c : ctx) EVP_MD_CTX_free(c);
  }
};
thread_local SpareContexts spare_contexts;

EVP_MD_CTX* take_context() {
  EVP_MD_CTX* ctx = nullptr;
  for (EVP_MD_CTX*& slot : spare_contexts.ctx) {
    if (slot != nullptr) {
      ctx = std::exchange(slot, nullptr);
      break;
    }
  }
  if (ctx == nullptr) ctx = EVP_MD_CTX_new();
  if (ctx == nullptr) throw std::bad_alloc();
  if (EVP_DigestInit_ex(ctx, sha256_md(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx);
    throw std::bad_alloc();
  }
  return ctx;
}

void give_back_context(EVP_MD_CTX* ctx) noexcept {
  if (ctx == nullptr) return;
  for (EVP_MD_CTX*& slot : spare_contexts.ctx) {
    if (slot == nullptr) {
      slot = ctx;
      return;
    }
  }
  EVP_MD_CTX_free(ctx);
}

EVP_MD_CTX*& context(unsigned char* bytes) noexcept {
  return *std::launder(reinterpret_cast<EVP_MD_CTX**>(bytes));
}
}  // namespace

Sha256::Sha256() { new (state_) EVP_MD_CTX*(take_context()); }

Sha256::Sha256(Sha256&& other) noexcept {
  new (state_) EVP_MD_CTX*(std::exchange(context(other.state_), nullptr));
}

Sha256::~Sha256() { give_back_context(context(state_)); }

void Sha256::update(const char* data, std::size_t size) {
  if (size == 0) return;
  if (EVP_DigestUpdate(context(state_), data, size) != 1) throw std::bad_alloc();
}

HashText Sha256::finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(context(state_), digest, &len) != 1 || len != 32) throw std::bad_alloc();
  HashText out;
  to_hex(digest, out);
  return out;
}

#endif

HashText sha256_hex(std::string_view bytes) {
  Sha256 h;
  h.update(bytes.data(), bytes.size());
  return h.finish();
}

}  // namespace quarn
