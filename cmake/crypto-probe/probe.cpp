// Uses the libcrypto calls the module makes, so that the trial link pulls in
// the same objects of the static library.
#include <openssl/evp.h>

#ifdef _WIN32
#define QUARN_PROBE_EXPORT __declspec(dllexport)
#else
#define QUARN_PROBE_EXPORT
#endif

extern "C" QUARN_PROBE_EXPORT int quarn_crypto_probe(const void* data, unsigned long size,
                                                     unsigned char* digest) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  unsigned int length = 0;
  const int ok = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1 &&
                 EVP_DigestUpdate(ctx, data, size) == 1 && EVP_DigestFinal_ex(ctx, digest, &length) == 1;
  EVP_MD_CTX_free(ctx);
  return ok ? static_cast<int>(length) : -1;
}
