#pragma once
// Every member's data read whole and checked against its CRC-32, on every
// core: stored data in large pieces summed apart and joined, deflated data
// inflated by each thread with its own stream, reading at its own offsets.

#include <optional>
#include <vector>

#include "check/archive_walk.h"
#include "check/finding.h"
#include "pe/pe_checksum.h"
#include "platform/file_handle.h"

namespace check {

// Checks the data of every located member of walk. A member that is
// encrypted, or in a method that cannot be extracted, gets a note that its
// data was not checked. With checksumField (the image's checksum field's
// offset), the header checksum of each range of data read is returned too.
std::vector<pe::PeChecksum> CheckMemberData(const platform::FileHandle& file,
                                            const ArchiveWalk& walk,
                                            std::optional<uint64_t> checksumField,
                                            FindingSink& sink);

}  // namespace check
