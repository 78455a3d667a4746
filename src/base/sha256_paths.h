// The compression paths of SHA-256, for the streaming code (sha256.cpp), the
// checks and the fuzz targets. Each instruction-set path lives in its own file
// and is compiled for its instructions alone; sha256_dispatch.cpp asks the CPU
// once which of them it can run and keeps the choice. The portable path is
// always built and is the reference the others are checked against.
//
// A hardware path is left out of the build with its macro:
//   QUARN_SHA256_NO_X86_SHA     x86 SHA extensions (x86-64 and 32-bit x86)
//   QUARN_SHA256_NO_ARMV8_SHA2  ARMv8 SHA-2 instructions (little-endian AArch64)
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/sha256.h"

#if !defined(QUARN_SHA256_NO_X86_SHA) &&                                                 \
    (defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)) && \
    !defined(_M_ARM64EC) && (defined(__GNUC__) || defined(__clang__) || defined(_MSC_VER))
#define QUARN_SHA256_X86_SHA 1
#endif

#if !defined(QUARN_SHA256_NO_ARMV8_SHA2) && (defined(__aarch64__) || defined(_M_ARM64)) && \
    !defined(__ARM_BIG_ENDIAN) && (defined(__GNUC__) || defined(__clang__) || defined(_MSC_VER))
#define QUARN_SHA256_ARMV8_SHA2 1
#endif

namespace quarn::sha256 {

enum class Path : unsigned char { Portable, X86Sha, Armv8Sha2 };
inline constexpr Path kAllPaths[] = {Path::Portable, Path::X86Sha, Path::Armv8Sha2};

// "portable", "x86-sha", "armv8-sha2".
const char* path_name(Path path) noexcept;
// Built into this module (the build macros and the target decide).
bool path_built(Path path) noexcept;
// Built into this module and runnable on this CPU.
bool path_available(Path path) noexcept;
// The path that Sha256() uses: the hardware path this CPU runs, else the
// portable one. Chosen on the first call, then kept.
Path selected_path() noexcept;
Sha256Compress selected_compress() noexcept;
// The compression function of an available path; nullptr for one that is not.
Sha256Compress path_compress(Path path) noexcept;

// The initial hash value and the round constants.
inline constexpr std::uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
alignas(16) inline constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// The paths' compression functions (sha256_portable.cpp, sha256_x86.cpp,
// sha256_arm.cpp). A hardware one may run only where path_available says so.
void compress_portable(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) noexcept;
#ifdef QUARN_SHA256_X86_SHA
void compress_x86_sha(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) noexcept;
#endif
#ifdef QUARN_SHA256_ARMV8_SHA2
void compress_armv8_sha2(std::uint32_t state[8], const unsigned char* data, std::size_t blocks) noexcept;
#endif

}  // namespace quarn::sha256
