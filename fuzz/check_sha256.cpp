// Runs every SHA-256 path that this CPU can run, alone, on messages and prints
// the digests, so that a driver (scripts/check-sha256) compares them with
// another implementation, here on any CPU or under an emulator.
//
//   check_sha256 paths
//       the paths built in, which of them this CPU runs and the one chosen
//   check_sha256 digests [--seed S] [--aligned-up-to N]  < messages
//       messages on standard input, each an 8-byte little-endian length and
//       the bytes; per message one line with one digest per available path
//       (in the order of the "paths:" line printed first). Each path hashes
//       the message whole, in random pieces, and from every offset 0..63 of
//       its buffer for messages of up to N bytes (default 4096; one random
//       offset for longer ones); where these disagree the line says
//       MISMATCH and the program exits 1.
//   check_sha256 random COUNT [--seed S] [--max-length N]
//       COUNT random messages, each hashed whole by the portable path and in
//       random pieces by every other available path, then digests of digests:
//       exits 1 on any difference
//   check_sha256 time LIBCRYPTO [--sizes 64,1024,...] [--milliseconds M]
//       time per digest of every available path and of the one-shot SHA256()
//       of the libcrypto shared library named, loaded with dlopen (nothing of
//       OpenSSL is compiled in), interleaved in one loop for about M ms per
//       size; per size and job a line "time SIZE JOB MEDIAN SPREAD ROUNDS
//       RATIO", RATIO being the median of the rounds' time / OpenSSL's time
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#if __has_include(<dlfcn.h>)
#include <dlfcn.h>
#define QUARN_CHECK_DLOPEN 1
#endif

#include "base/sha256.h"
#include "base/sha256_paths.h"

namespace {

using quarn::Sha256;
using quarn::sha256::Path;

// splitmix64: a small, fast generator whose sequence depends only on the seed.
struct Random {
  std::uint64_t s;
  std::uint64_t next() noexcept {
    std::uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) noexcept { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }
};

std::vector<Path> available_paths() {
  std::vector<Path> out;
  for (Path p : quarn::sha256::kAllPaths)
    if (quarn::sha256::path_available(p)) out.push_back(p);
  return out;
}

std::string whole(Path p, const unsigned char* data, std::size_t size) {
  Sha256 h(quarn::sha256::path_compress(p));
  h.update(reinterpret_cast<const char*>(data), size);
  return std::string(quarn::as_view(h.finish()));
}

// In pieces: mostly short ones (around the 64-byte block), now and then long.
std::string in_pieces(Path p, const unsigned char* data, std::size_t size, Random& rng) {
  Sha256 h(quarn::sha256::path_compress(p));
  std::size_t at = 0;
  while (at < size) {
    std::size_t piece = rng.below(4) == 0 ? rng.below(size - at + 1) : rng.below(130);
    piece = std::min(piece, size - at);
    h.update(reinterpret_cast<const char*>(data) + at, piece);
    at += piece;
  }
  return std::string(quarn::as_view(h.finish()));
}

void print_paths() {
  std::printf("built:");
  for (Path p : quarn::sha256::kAllPaths)
    if (quarn::sha256::path_built(p)) std::printf(" %s", quarn::sha256::path_name(p));
  std::printf("\n");
}

std::uint64_t option(int argc, char** argv, const char* name, std::uint64_t fallback) {
  for (int i = 2; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return std::strtoull(argv[i + 1], nullptr, 0);
  return fallback;
}

bool read_exact(unsigned char* out, std::size_t n) { return std::fread(out, 1, n, stdin) == n; }

int digests(int argc, char** argv) {
  Random rng{option(argc, argv, "--seed", 1)};
  const std::size_t aligned_up_to = option(argc, argv, "--aligned-up-to", 4096);
  const std::vector<Path> paths = available_paths();
  std::printf("selected: %s\npaths:", quarn::sha256::path_name(quarn::sha256::selected_path()));
  for (Path p : paths) std::printf(" %s", quarn::sha256::path_name(p));
  std::printf("\n");
  std::vector<unsigned char> buffer;
  std::uint64_t messages = 0, mismatches = 0;
  for (;;) {
    unsigned char head[8];
    if (!read_exact(head, 1)) break;
    if (!read_exact(head + 1, 7)) {
      std::fprintf(stderr, "truncated length\n");
      return 2;
    }
    std::uint64_t size = 0;
    for (int i = 7; i >= 0; --i) size = (size << 8) | head[i];
    // 64 spare bytes in front: the message is moved to each offset in turn.
    buffer.assign(static_cast<std::size_t>(size) + 64, 0);
    if (!read_exact(buffer.data() + 64, static_cast<std::size_t>(size))) {
      std::fprintf(stderr, "truncated message\n");
      return 2;
    }
    const unsigned char* message = buffer.data() + 64;
    std::string line;
    for (Path p : paths) {
      const std::string digest = whole(p, message, size);
      bool same = in_pieces(p, message, size, rng) == digest;
      const std::size_t offsets = size <= aligned_up_to ? 64 : 1;
      for (std::size_t k = 0; k < offsets && same; ++k) {
        const std::size_t offset = offsets == 1 ? rng.below(64) : k;
        std::memmove(buffer.data() + offset, buffer.data() + 64, size);
        same = whole(p, buffer.data() + offset, size) == digest;
        std::memmove(buffer.data() + 64, buffer.data() + offset, size);
      }
      if (!same) ++mismatches;
      line += (line.empty() ? "" : " ") +
              (same ? digest : "MISMATCH-" + std::string(quarn::sha256::path_name(p)));
    }
    std::printf("%s\n", line.c_str());
    ++messages;
  }
  std::fprintf(stderr,
               "check_sha256: %" PRIu64 " messages, %" PRIu64 " with pieces or offsets that disagree\n",
               messages, mismatches);
  return mismatches == 0 ? 0 : 1;
}

int random_messages(int argc, char** argv) {
  const std::uint64_t count = argc > 2 ? std::strtoull(argv[2], nullptr, 0) : 0;
  const std::uint64_t seed = option(argc, argv, "--seed", 1);
  const std::size_t max_length = option(argc, argv, "--max-length", 1024);
  Random rng{seed};
  const std::vector<Path> paths = available_paths();
  std::printf("selected: %s\npaths:", quarn::sha256::path_name(quarn::sha256::selected_path()));
  for (Path p : paths) std::printf(" %s", quarn::sha256::path_name(p));
  std::printf("\n");
  std::vector<unsigned char> message(max_length + 8);
  std::uint64_t differences = 0, bytes = 0;
  std::string chain[3];
  for (std::uint64_t i = 0; i < count; ++i) {
    // Lengths: a third near the block boundaries, the rest spread out.
    std::size_t size = rng.below(3) == 0
                           ? (rng.below(max_length / 64 + 1) * 64 + rng.below(17) + 47) % (max_length + 1)
                           : rng.below(max_length + 1);
    const std::size_t offset = rng.below(8);
    for (std::size_t j = 0; j < size; j += 8) {
      const std::uint64_t r = rng.next();
      for (std::size_t b = 0; b < 8 && j + b < size; ++b)
        message[offset + j + b] = static_cast<unsigned char>(r >> (8 * b));
    }
    bytes += size;
    const std::string want = whole(Path::Portable, message.data() + offset, size);
    for (Path p : paths) {
      if (p == Path::Portable) continue;
      if (in_pieces(p, message.data() + offset, size, rng) != want) {
        if (++differences <= 10)
          std::printf("DIFFERENCE %s: message %" PRIu64 " (seed %" PRIu64 ", %zu bytes)\n",
                      quarn::sha256::path_name(p), i, seed, size);
      }
    }
    // Digests of digests: every path feeds its own hash text back in.
    if (i % 1024 == 0) {
      std::string got[3];
      for (Path p : paths) {
        std::string& c = chain[static_cast<int>(p)];
        const std::string input = c + want;
        c = whole(p, reinterpret_cast<const unsigned char*>(input.data()), input.size());
        got[static_cast<int>(p)] = c;
      }
      for (Path p : paths)
        if (got[static_cast<int>(p)] != got[0] && ++differences <= 10)
          std::printf("DIFFERENCE %s: digest chain at message %" PRIu64 "\n", quarn::sha256::path_name(p), i);
    }
  }
  std::printf("%" PRIu64 " random messages (%" PRIu64 " bytes, seed %" PRIu64
              "), every path against the portable one: %" PRIu64 " differences\n",
              count, bytes, seed, differences);
  return differences == 0 ? 0 : 1;
}

#ifdef QUARN_CHECK_DLOPEN
using OneShot = unsigned char* (*)(const unsigned char*, std::size_t, unsigned char*);
using VersionText = const char* (*)(int);

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int time_paths(int argc, char** argv) {
  if (argc < 3) return 2;
  void* lib = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    std::fprintf(stderr, "dlopen %s: %s\n", argv[2], dlerror());
    return 2;
  }
  auto openssl_sha256 = reinterpret_cast<OneShot>(dlsym(lib, "SHA256"));
  auto version = reinterpret_cast<VersionText>(dlsym(lib, "OpenSSL_version"));
  if (openssl_sha256 == nullptr) {
    std::fprintf(stderr, "%s has no SHA256()\n", argv[2]);
    return 2;
  }
  std::printf("openssl: %s\n", version != nullptr ? version(0) : "unknown");
  std::vector<std::size_t> sizes = {64, 1024, 65536, 1048576};
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--sizes") == 0) {
      sizes.clear();
      for (const char* s = argv[i + 1]; *s != '\0';) {
        char* end = nullptr;
        sizes.push_back(std::strtoull(s, &end, 10));
        s = *end == ',' ? end + 1 : end;
      }
    }
  }
  const double budget = static_cast<double>(option(argc, argv, "--milliseconds", 2000)) / 1000;
  const std::vector<Path> paths = available_paths();
  Random rng{7};
  for (std::size_t size : sizes) {
    std::vector<unsigned char> data(size);
    for (auto& b : data) b = static_cast<unsigned char>(rng.next());
    // Jobs: each path, then OpenSSL. The same digest from all, checked first.
    const std::size_t jobs = paths.size() + 1;
    auto run = [&](std::size_t job, std::size_t calls) {
      unsigned char out[32];
      unsigned sink = 0;
      for (std::size_t c = 0; c < calls; ++c) {
        if (job < paths.size()) {
          Sha256 h(quarn::sha256::path_compress(paths[job]));
          h.update(reinterpret_cast<const char*>(data.data()), size);
          const auto d = h.digest();
          sink += d[0];
        } else {
          openssl_sha256(data.data(), size, out);
          sink += out[0];
        }
      }
      return sink;
    };
    {
      unsigned char ref[32];
      openssl_sha256(data.data(), size, ref);
      for (Path p : paths) {
        Sha256 h(quarn::sha256::path_compress(p));
        h.update(reinterpret_cast<const char*>(data.data()), size);
        if (std::memcmp(h.digest().data(), ref, 32) != 0) {
          std::fprintf(stderr, "%s disagrees with OpenSSL at %zu bytes\n", quarn::sha256::path_name(p), size);
          return 1;
        }
      }
    }
    // Calls per batch: about 5 ms of work for each job.
    std::vector<std::size_t> calls(jobs);
    for (std::size_t job = 0; job < jobs; ++job) {
      run(job, 4);
      const double t0 = seconds_now();
      run(job, 16);
      const double one = std::max((seconds_now() - t0) / 16, 1e-9);
      calls[job] = std::max<std::size_t>(1, static_cast<std::size_t>(0.005 / one));
    }
    std::vector<std::vector<double>> samples(jobs);
    const double end = seconds_now() + budget;
    unsigned sink = 0;
    do {
      for (std::size_t job = 0; job < jobs; ++job) {
        const double t0 = seconds_now();
        sink += run(job, calls[job]);
        samples[job].push_back((seconds_now() - t0) / static_cast<double>(calls[job]));
      }
    } while (seconds_now() < end || samples[0].size() < 5);
    // Per job: the median time, the quartiles' half distance relative to it,
    // the rounds, and the median over the rounds of its time / OpenSSL's time
    // in the same round (robust to a machine that others keep busy).
    for (std::size_t job = 0; job < jobs; ++job) {
      std::vector<double> ratio(samples[job].size());
      for (std::size_t r = 0; r < ratio.size(); ++r) ratio[r] = samples[job][r] / samples[jobs - 1][r];
      std::sort(ratio.begin(), ratio.end());
      std::vector<double> s = samples[job];
      std::sort(s.begin(), s.end());
      const double median = s[s.size() / 2];
      const double q1 = s[s.size() / 4], q3 = s[(3 * s.size()) / 4];
      std::printf("time %zu %s %.6e %.4f %zu %.4f\n", size,
                  job < paths.size() ? quarn::sha256::path_name(paths[job]) : "openssl", median,
                  (q3 - q1) / 2 / median, s.size(), ratio[ratio.size() / 2]);
    }
    if (sink == 1) std::printf("\n");  // keeps the work from being optimized away
  }
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (mode == "paths") {
    print_paths();
    std::printf("available:");
    for (Path p : available_paths()) std::printf(" %s", quarn::sha256::path_name(p));
    std::printf("\nselected: %s\n", quarn::sha256::path_name(quarn::sha256::selected_path()));
    return 0;
  }
  if (mode == "digests") return digests(argc, argv);
  if (mode == "random") return random_messages(argc, argv);
#ifdef QUARN_CHECK_DLOPEN
  if (mode == "time") return time_paths(argc, argv);
#endif
  std::fprintf(
      stderr,
      "usage: check_sha256 paths | digests [--seed S] [--aligned-up-to N] < messages | "
      "random COUNT [--seed S] [--max-length N] | time LIBCRYPTO [--sizes A,B] [--milliseconds M]\n");
  return 2;
}
