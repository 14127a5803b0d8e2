#pragma once
// The image at the head of a package, checked from its headers and its
// resource section, which are read into memory (the rest of the image is
// not): PE headers, section table, data directories, the resource tree and
// the version block. Where a header checksum is set, its field is handed on:
// the checksum is summed over the whole file while the members are read. A
// certificate table is noted, and its place handed to the walk of the
// archive, which it must follow.

#include <cstdint>
#include <optional>
#include <vector>

#include "check/file_checksum.h"
#include "check/finding.h"
#include "pe/pe_image.h"
#include "platform/file_handle.h"

namespace check {

struct ImageFacts {
  uint64_t end = 0;  // behind the headers and the last section's raw data
  std::optional<pe::FileRange> certificates;
  std::optional<ChecksumField> checksum;  // set, and to be checked
};

// nullopt when the headers cannot be read at all; every fault is reported.
std::optional<ImageFacts> CheckPackageImage(const platform::FileHandle& file, uint64_t fileSize,
                                            FindingSink& sink);

// The first count bytes of the file (fewer when it is shorter).
std::vector<uint8_t> ReadHead(const platform::FileHandle& file, std::size_t count);

}  // namespace check
