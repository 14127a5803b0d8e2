#pragma once
// The image's header checksum over the whole package, from what the data
// check summed while it read the members' data anyway, and the bytes between
// (headers, the image, the directory, data left unread) read once more: a
// large package is read once, not twice.

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

// The sum of ranges of the file, gathered in any order.
struct SummedRanges {
  struct Range {
    uint64_t from = 0, to = 0;
  };
  explicit SummedRanges(uint64_t checksumField) : field(checksumField), sum(field) {}
  uint64_t field;      // the checksum field's offset
  pe::PeChecksum sum;  // of every byte of ranges
  std::vector<Range> ranges;
};

// summed: ranges in any order. Should any two overlap (they never do after
// the walk's check of the members' spans), the whole file is read instead.
void CheckFileChecksum(const platform::FileHandle& file, uint64_t fileSize,
                       const ChecksumField& field, SummedRanges summed, FindingSink& sink);

}  // namespace check
