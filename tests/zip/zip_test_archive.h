#pragma once
// The archive builder for the tests, and checks of a file's offsets and extra
// fields made independently of the reader.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zip_archive_builder.h"

namespace ziptest {

// Writes an archive of the named files (stored, or deflated with method 8)
// to path and returns path.
std::string WriteArchive(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& files,
                         uint16_t method = 0);

// Checks, without the product's reader, that the last end record's directory
// offset lands on a central header and each central header's offset on a
// local header. Empty on success, else what is wrong.
std::string CheckOffsets(const std::string& file);

// A member as stored, found through the last end record and the central
// directory, without the product's reader.
struct StoredMember {
  std::string name;
  std::string localExtra;
  std::string centralExtra;
  uint32_t localHeaderOffset = 0;
  std::string localHeader, centralHeader;  // their fixed parts, 30 and 46 bytes
};
std::vector<StoredMember> StoredMembers(const std::string& file);
// Whether the field is a run of whole id/size blocks (and padding).
bool Walkable(const std::string& field);
// The extra field without its ZIP64 blocks (id 1), as the rewrite keeps it.
std::string WithoutZip64(const std::string& field);
// Expects both headers of every rewritten member to carry the source
// member's local extra field, byte for byte, but for its ZIP64 blocks; the
// central header its own when the local one cannot be walked.
void ExpectSameExtraFields(const std::vector<StoredMember>& source,
                           const std::vector<StoredMember>& rewritten);

uint32_t Le32(const std::string& bytes, std::size_t at);

}  // namespace ziptest
