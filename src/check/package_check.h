#pragma once
// The check of a whole package, in two modes: the cheap one the build runs
// on what it has just written (headers and layout, not the data it copied
// byte for byte), and the whole one `--verify` runs on a package as it is
// found. Each returns what it finds as values; nothing is printed.

#include <cstdint>
#include <vector>

#include "check/finding.h"
#include "platform/file_handle.h"

namespace check {

// What the build planned to write.
struct Plan {
  // The image's headers as they are to stand in the finished file, its
  // stored checksum included: the file's first headers.size() bytes.
  std::vector<uint8_t> headers;
  // Where the archive begins: the first member's local header (or the
  // central directory of an archive without members).
  uint64_t archiveStart = 0;
};

// Cheap: every local header where its central header says and agreeing
// with it, the members back to back from plan.archiveStart, the central
// directory behind them, the end record where it must be (ending the file),
// and the image's headers equal to plan.headers. No data is read.
std::vector<Finding> CheckWrittenPackage(const platform::FileHandle& file, const Plan& plan);

// Whole: the archive's records and spans, every member's data against its
// CRC-32, the image's structure and checksum, a certificate table behind
// the archive. Loading the package itself is the caller's part.
std::vector<Finding> CheckWholePackage(const platform::FileHandle& file);

}  // namespace check
