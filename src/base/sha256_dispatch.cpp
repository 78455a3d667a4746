// The one place that asks the CPU which SHA-256 path it can run. The answer
// comes from the CPU the module runs on (never from the build machine's, and
// no setting overrides it) and is asked once, on first use.
#include <cstdint>

#include "base/sha256_paths.h"

#if defined(QUARN_SHA256_X86_SHA)
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

#if defined(QUARN_SHA256_ARMV8_SHA2)
#if defined(__APPLE__)
// Every arm64 Mac has the SHA-2 instructions.
#elif defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(__linux__)
#include <sys/auxv.h>
#endif
#endif

namespace quarn::sha256 {

namespace {

#if defined(QUARN_SHA256_X86_SHA)
// CPUID: leaf 7 (sub-leaf 0) EBX bit 29 is SHA; leaf 1 ECX bit 19 is SSE4.1,
// bit 9 SSSE3, which the path's shuffles and blends need.
bool cpu_has_x86_sha() noexcept {
  std::uint32_t leaf1_ecx = 0, leaf7_ebx = 0;
#if defined(_MSC_VER) && !defined(__clang__)
  int regs[4];
  __cpuid(regs, 0);
  if (regs[0] < 7) return false;
  __cpuidex(regs, 1, 0);
  leaf1_ecx = static_cast<std::uint32_t>(regs[2]);
  __cpuidex(regs, 7, 0);
  leaf7_ebx = static_cast<std::uint32_t>(regs[1]);
#else
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  if (__get_cpuid_count(1, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  leaf1_ecx = ecx;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  leaf7_ebx = ebx;
#endif
  const bool sha = (leaf7_ebx >> 29) & 1;
  const bool sse41 = (leaf1_ecx >> 19) & 1;
  const bool ssse3 = (leaf1_ecx >> 9) & 1;
  return sha && sse41 && ssse3;
}
#endif

#if defined(QUARN_SHA256_ARMV8_SHA2)
bool cpu_has_armv8_sha2() noexcept {
#if defined(__APPLE__)
  return true;
#elif defined(_WIN32)
  return IsProcessorFeaturePresent(PF_ARM_V8_CRYPTO_INSTRUCTIONS_AVAILABLE) != 0;
#elif defined(__linux__)
  // HWCAP_SHA2 of <asm/hwcap.h> on Linux/arm64.
  constexpr unsigned long kHwcapSha2 = 1UL << 6;
  return (getauxval(AT_HWCAP) & kHwcapSha2) != 0;
#else
  return false;
#endif
}
#endif

// Whether the CPU runs a path that is built in.
bool cpu_runs(Path path) noexcept {
  switch (path) {
    case Path::Portable: return true;
#if defined(QUARN_SHA256_X86_SHA)
    case Path::X86Sha: return cpu_has_x86_sha();
#endif
#if defined(QUARN_SHA256_ARMV8_SHA2)
    case Path::Armv8Sha2: return cpu_has_armv8_sha2();
#endif
    default: return false;
  }
}

struct Choice {
  bool available[3];
  Path path;
};

Choice ask_cpu() noexcept {
  Choice c{};
  c.path = Path::Portable;
  for (Path p : kAllPaths) {
    c.available[static_cast<int>(p)] = path_built(p) && cpu_runs(p);
    if (p != Path::Portable && c.available[static_cast<int>(p)]) c.path = p;
  }
  return c;
}

const Choice& choice() noexcept {
  static const Choice c = ask_cpu();
  return c;
}

}  // namespace

bool path_built(Path path) noexcept {
#if defined(QUARN_SHA256_X86_SHA)
  if (path == Path::X86Sha) return true;
#endif
#if defined(QUARN_SHA256_ARMV8_SHA2)
  if (path == Path::Armv8Sha2) return true;
#endif
  return path == Path::Portable;
}

const char* path_name(Path path) noexcept {
  switch (path) {
    case Path::Portable: return "portable";
    case Path::X86Sha: return "x86-sha";
    case Path::Armv8Sha2: return "armv8-sha2";
  }
  return "unknown";
}

bool path_available(Path path) noexcept { return choice().available[static_cast<int>(path)]; }

Path selected_path() noexcept { return choice().path; }

Sha256Compress path_compress(Path path) noexcept {
  if (!path_available(path)) return nullptr;
  switch (path) {
    case Path::Portable: return &compress_portable;
#if defined(QUARN_SHA256_X86_SHA)
    case Path::X86Sha: return &compress_x86_sha;
#endif
#if defined(QUARN_SHA256_ARMV8_SHA2)
    case Path::Armv8Sha2: return &compress_armv8_sha2;
#endif
    default: return nullptr;
  }
}

Sha256Compress selected_compress() noexcept {
  static const Sha256Compress chosen = path_compress(selected_path());
  return chosen;
}

}  // namespace quarn::sha256
