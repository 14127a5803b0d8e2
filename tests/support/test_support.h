#pragma once
// Helpers shared by the test suites: scratch directories, whole-file reads and
// writes, digests, and running external tools.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory removed with its contents when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadFile(const std::string& path);
std::string ReadText(const std::string& path);  // the same bytes as a string
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFile(const std::string& path, const std::string& text);
// FNV-1a over the whole file; enough to notice any change of an input.
uint64_t FileDigest(const std::string& path);

struct CommandResult {
  int exitCode = -1;
  std::string output;  // standard output (and standard error when merged)
};
// Runs a shell command line; mergeStderr appends "2>&1".
CommandResult RunCommand(const std::string& commandLine, bool mergeStderr = false);
// Quotes one argument for the shell.
std::string ShellQuote(const std::string& text);
// True when a program is on the PATH.
bool HaveProgram(const std::string& name);

// Deterministic bytes that deflate moderately well.
std::string Pattern(std::size_t size, uint32_t seed = 1);

// A stub program built by the fixtures, e.g. StubPath("stub64_full").
std::string StubPath(const std::string& name);

std::string CorpusDir();
std::string SourceDir();
std::string BinaryDir();

}  // namespace testsupport
