// Runs a fuzz target without libFuzzer: every file named on the command line,
// and every file in every directory named there (in name order; names
// starting with '.' skipped), goes once through LLVMFuzzerTestOneInput. A
// missing path is an error; a crash is the target's own.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> Inputs(const std::filesystem::path& path) {
  if (!std::filesystem::is_directory(path)) return {path};
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    if (entry.is_regular_file() && entry.path().filename().string().rfind('.', 0) != 0) {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::filesystem::exists(argv[i])) {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 2;
    }
    for (const auto& file : Inputs(argv[i])) {
      std::fprintf(stderr, "running %s\n", file.c_str());
      const std::vector<uint8_t> bytes = fuzzsupport::ReadWholeFile(file.string());
      // An empty vector may hold no storage; the fuzzer always passes a pointer.
      const uint8_t none = 0;
      LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
      ++count;
    }
  }
  std::fprintf(stderr, "%zu inputs ran\n", count);
  return count > 0 ? 0 : 1;
}
