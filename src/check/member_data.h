#pragma once
// Every member's data read whole and checked against its CRC-32, on every
// core: stored data in large pieces summed apart and joined, deflated data
// inflated by each thread with its own stream, reading at its own offsets.

#include "check/archive_walk.h"
#include "check/file_checksum.h"
#include "check/finding.h"
#include "platform/file_handle.h"

namespace check {

// Checks the data of every located member of walk. A member that is
// encrypted, or in a method that cannot be extracted, gets a note that its
// data was not checked. Where summed is given, the header checksum of the
// data read is added to it, with the ranges read.
void CheckMemberData(const platform::FileHandle& file, const ArchiveWalk& walk,
                     SummedRanges* summed, FindingSink& sink);

}  // namespace check
