// A main for the fuzz targets without libFuzzer: every file named on the
// command line, and every file in a directory named there, is passed once to
// LLVMFuzzerTestOneInput, in name order. A failed check aborts the process, so
// the replay fails on the first input that a target rejects; otherwise it
// prints how many files passed. Built by the QUARN_REPLAY option with the
// ordinary compiler, and run by ctest.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool read_file(const fs::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      for (const auto& entry : fs::directory_iterator(arg, ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.push_back(arg);
    }
    if (ec) {
      std::fprintf(stderr, "replay: cannot read %s: %s\n", argv[i], ec.message().c_str());
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n(no input files)\n", argc > 0 ? argv[0] : "replay");
    return 2;
  }
  std::string data;
  for (const auto& path : files) {
    if (!read_file(path, data)) {
      std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
      return 2;
    }
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.string().c_str(), data.size());
    // The return value only tells libFuzzer whether to keep the input in its corpus.
    (void)LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  }
  std::printf("%zu files passed\n", files.size());
  return 0;
}
