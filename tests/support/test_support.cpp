#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace testsupport {

namespace {

// What pclose reports: a wait status on POSIX systems, the exit code itself
// on Windows. And how the shell there finds a program.
#ifdef _WIN32
int ExitCodeOf(int status) { return status; }
const char kFindProgram[] = "where ";
const char kNullDevice[] = "NUL";
#else
int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
const char kFindProgram[] = "command -v ";
const char kNullDevice[] = "/dev/null";
#endif

}  // namespace

TempDir::TempDir() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (int i = 0; i < 100; ++i) {
    auto candidate = base / ("zgtest-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ec;
  // Files made read-only by a test must not stop the clean-up.
  namespace fs = std::filesystem;
  for (fs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

// Read whole, in one call: byte by byte through stream iterators, a sanitized
// debug build takes tens of seconds of processor time over 100 MiB, which a
// loaded machine stretches past any test's timeout.
std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.gcount() != static_cast<std::streamsize>(bytes.size()) || in.peek() != EOF) {
    throw std::runtime_error("cannot read " + path + " whole");
  }
  return bytes;
}

std::string ReadText(const std::string& path) {
  const auto bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text) {
  WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

uint64_t FileDigest(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  uint64_t h = 1469598103934665603ull;
  for (const uint8_t *b = bytes.data(), *end = b + bytes.size(); b != end; ++b) {
    h ^= *b;
    h *= 1099511628211ull;
  }
  return h;
}

CommandResult RunCommand(const std::string& commandLine, bool mergeStderr) {
  CommandResult result;
  const std::string line = commandLine + (mergeStderr ? " 2>&1" : "");
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) result.output.append(buf.data(), n);
  const int status = ::pclose(pipe);
  result.exitCode = ExitCodeOf(status);
  return result;
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

bool HaveProgram(const std::string& name) {
  return RunCommand(kFindProgram + ShellQuote(name) + " >" + kNullDevice + " 2>&1").exitCode == 0;
}

std::string Pattern(std::size_t size, uint32_t seed) {
  std::string s(size, '\0');
  char* out = s.data();
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    out[i] = static_cast<char>('a' + (seed >> 16) % 7 + (i / 97) % 3);
  }
  return s;
}

std::string StubPath(const std::string& name) {
  return std::string(ZG_STUB_DIR) + "/" + name + ".exe";
}

std::string CorpusDir() { return ZG_CORPUS_DIR; }
std::string SourceDir() { return ZG_SOURCE_DIR; }
std::string BinaryDir() { return ZG_BINARY_DIR; }

}  // namespace testsupport
