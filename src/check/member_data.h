#pragma once
// Every member's data read whole and checked against its CRC-32, on every
// core: stored data in large pieces summed apart and joined, deflated data
// inflated by each thread with its own stream, reading at its own offsets.

#include <optional>

#include "check/archive_walk.h"
#include "check/file_checksum.h"
#include "check/finding.h"
#include "platform/file_handle.h"

namespace check {

// Checks the data of every located member of walk. A member that is
// encrypted, or in a method that cannot be extracted, gets a note that its
// data was not checked. With checksumField (the image's checksum field's
// offset), the header checksum of the ranges of data read is returned too.
std::optional<SummedRanges> CheckMemberData(const platform::FileHandle& file,
                                            const ArchiveWalk& walk,
                                            std::optional<uint64_t> checksumField,
                                            FindingSink& sink);

}  // namespace check
