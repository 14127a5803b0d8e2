#pragma once
// The two headers of one member, judged alike wherever an archive is read:
// the central header's values with its ZIP64 placeholders resolved, and
// whether the local header agrees with them.

#include <cstdint>
#include <span>

#include "zip/zip_records.h"

namespace trvzip {

// A member's sizes, local header offset and disk as its central header
// gives them, each placeholder replaced by its value in the ZIP64 block.
struct CentralValues {
  uint64_t uncompressedSize = 0;
  uint64_t compressedSize = 0;
  uint64_t localHeaderOffset = 0;
  uint32_t disk = 0;
};

// False when the extra field lacks a value a placeholder calls for.
bool ResolveCentral(const records::CentralHeader& ch, std::span<const uint8_t> centralExtra,
                    CentralValues* values);

// The first field in which a member's local header disagrees with its
// central header, or null when they agree; the names themselves are the
// caller's to compare. With a data descriptor the local CRC-32 and sizes do
// not count (zero as a rule; Info-ZIP writing an encrypted member into a
// pipe puts its time there); streaming writers may set the descriptor flag
// in the local header alone.
const char* LocalDisagreement(const records::LocalHeader& lh, std::span<const uint8_t> localExtra,
                              const records::CentralHeader& ch,
                              std::span<const uint8_t> centralExtra, const CentralValues& central);

}  // namespace trvzip
