#pragma once
// What the fuzz targets share: a scratch directory per process for the files
// the tool's API insists on, whole-file reads and writes, and the check that
// turns a broken invariant into a crash the fuzzer reports.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Stops the process with a message when an invariant of the code under test
// does not hold; libFuzzer records the input as a crash.
#define FUZZ_CHECK(condition) \
  ((condition) ? void(0) : fuzzsupport::CheckFailed(#condition, __FILE__, __LINE__))

namespace fuzzsupport {

[[noreturn]] void CheckFailed(const char* condition, const char* file, int line);

// A file in this process's scratch directory (made under $TMPDIR on first use
// and removed, with what it holds, when the process exits normally).
std::string ScratchFile(const std::string& name);

// Writes bytes as the whole file at path; a failure stops the process, since
// the target cannot run without its file.
void WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes);
// The whole file at path; empty when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// The input cut into at most `parts` pieces at each occurrence of separator;
// the last piece keeps any further separators.
std::vector<std::span<const uint8_t>> Split(std::span<const uint8_t> input,
                                            std::string_view separator, std::size_t parts);

}  // namespace fuzzsupport
