// Loads the trial module named on the command line and hashes "abc" with it.
// Exit status 0 when the module loads and gives the known SHA-256 digest;
// otherwise the reason is printed.
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

using Probe = int (*)(const void*, unsigned long, unsigned char*);

int main(int argc, char** argv) {
  if (argc != 2) return 2;
#ifdef _WIN32
  HMODULE lib = LoadLibraryA(argv[1]);
  if (lib == nullptr) {
    std::printf("LoadLibrary failed (%lu)\n", GetLastError());
    return 1;
  }
  auto probe = reinterpret_cast<Probe>(reinterpret_cast<void*>(GetProcAddress(lib, "quarn_crypto_probe")));
#else
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    std::printf("%s\n", dlerror());
    return 1;
  }
  auto probe = reinterpret_cast<Probe>(dlsym(lib, "quarn_crypto_probe"));
#endif
  if (probe == nullptr) {
    std::printf("quarn_crypto_probe not found\n");
    return 1;
  }
  static const unsigned char expected[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                                             0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                                             0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
  unsigned char digest[64] = {};
  if (probe("abc", 3, digest) != 32 || std::memcmp(digest, expected, 32) != 0) {
    std::printf("SHA-256 of \"abc\" came out wrong\n");
    return 1;
  }
  return 0;
}
