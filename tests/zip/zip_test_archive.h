#pragma once
// Builds archives byte by byte for the tests, with knobs for the faults the
// reader must catch, and checks a file's offsets independently of the reader.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ziptest {

struct Member {
  std::string name;
  std::string data;
  uint16_t method = 0;        // 0 stored, 8 deflated (compressed here); others stored raw
  std::string extra;          // local extra field (and central, unless centralExtra set)
  std::optional<std::string> centralExtra;
  std::string memberComment;
  std::optional<std::string> localName;  // a local name differing from the central one
  uint32_t crcXor = 0;                   // flips CRC bits in both headers
  bool dataDescriptor = false;           // flag bit 3, zero CRC and sizes locally
  std::optional<uint32_t> declaredSize;  // overrides the uncompressed size in both headers
  std::optional<uint32_t> storedCut;     // keeps only this many stored bytes (sizes follow)
};

struct Archive {
  std::vector<Member> members;
  std::string comment;
  uint32_t shift = 0;  // added to every stored offset (bytes that will stand in front)
  uint16_t disk = 0, directoryDisk = 0;
  std::optional<uint16_t> recordsOnDisk, totalRecords;
};

// A member with the usual headers; tests adjust the other knobs afterwards.
Member Make(std::string name, std::string data, uint16_t method = 0);

std::string Build(const Archive& archive);
// Writes an archive of the named files (stored, or deflated with method 8)
// to path and returns path.
std::string WriteArchive(const std::string& path,
                         const std::vector<std::pair<std::string, std::string>>& files,
                         uint16_t method = 0);
std::string RawDeflate(const std::string& data);
uint32_t Crc(const std::string& data);

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
};
std::vector<StoredMember> StoredMembers(const std::string& file);
// Expects both headers of every rewritten member to carry the source
// member's local extra field, byte for byte.
void ExpectSameExtraFields(const std::vector<StoredMember>& source,
                           const std::vector<StoredMember>& rewritten);

uint32_t Le32(const std::string& bytes, std::size_t at);

}  // namespace ziptest
