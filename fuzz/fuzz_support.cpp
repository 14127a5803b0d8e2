#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace fuzzsupport {
namespace {

std::filesystem::path* scratch = nullptr;

void RemoveScratch() {
  if (scratch == nullptr) return;
  std::error_code ignored;
  std::filesystem::remove_all(*scratch, ignored);
}

const std::filesystem::path& ScratchDir() {
  if (scratch != nullptr) return *scratch;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/zipgraft-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("zipgraft fuzz: mkdtemp");
    std::abort();
  }
  scratch = new std::filesystem::path(pattern);
  std::atexit(RemoveScratch);
  return *scratch;
}

}  // namespace

void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
  std::abort();
}

std::string ScratchFile(const std::string& name) { return (ScratchDir() / name).string(); }

void WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "zipgraft fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) return {};
  return bytes;
}

std::vector<std::span<const uint8_t>> Split(std::span<const uint8_t> input,
                                            std::string_view separator, std::size_t parts) {
  std::vector<std::span<const uint8_t>> pieces;
  while (pieces.size() + 1 < parts) {
    const auto at = std::search(input.begin(), input.end(), separator.begin(), separator.end(),
                                [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
    if (at == input.end()) break;
    const auto length = static_cast<std::size_t>(at - input.begin());
    pieces.push_back(input.first(length));
    input = input.subspan(length + separator.size());
  }
  pieces.push_back(input);
  return pieces;
}

}  // namespace fuzzsupport
