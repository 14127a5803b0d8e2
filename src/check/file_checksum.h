#pragma once
// The image's header checksum over the whole package, from the pieces the
// data check summed while it read the members' data anyway, and the bytes
// between them (headers, the image, the directory, data left unread) read
// once more: the file is read once, not twice, on a large package.

#include <cstdint>
#include <vector>

#include "check/finding.h"
#include "pe/pe_checksum.h"
#include "platform/file_handle.h"

namespace check {

struct ChecksumField {
  uint64_t at = 0;      // the field's offset in the file
  uint32_t stored = 0;  // its value
};

// pieces: sums of ranges of the file, each begun with the field's offset; in
// any order, and overlapping ones are read again rather than counted twice.
void CheckFileChecksum(const platform::FileHandle& file, uint64_t fileSize,
                       const ChecksumField& field, std::vector<pe::PeChecksum> pieces,
                       FindingSink& sink);

}  // namespace check
