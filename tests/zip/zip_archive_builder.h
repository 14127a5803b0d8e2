#pragma once
// Builds archives byte by byte, with knobs for the faults a reader must catch.
// Needs zlib only, so the fuzz targets build their archives with it too.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ziptest {

// The record a member with dataDescriptor gets behind its data.
enum class Descriptor { kNone, kPlain, kSigned, kPlain64, kSigned64 };

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
  bool descriptorFlagLocalOnly = false;  // bit 3 in the local header alone
  std::optional<uint32_t> declaredSize;  // overrides the uncompressed size in both headers
  std::optional<uint32_t> storedCut;     // keeps only this many stored bytes (sizes follow)
  uint16_t flags = 0;  // more flag bits for both headers (1: encrypted)
  Descriptor descriptor = Descriptor::kNone;
  uint32_t descriptorCrcXor = 0;  // flips CRC bits in the descriptor only
  // 0xFFFFFFFF placeholders with a ZIP64 extra block (put in front of the
  // extra field) holding the values: sizes and offset centrally, sizes locally.
  bool zip64Central = false, zip64Local = false;
  std::optional<uint64_t> zip64Size;        // the uncompressed size its blocks state
  std::optional<uint64_t> zip64Compressed;  // the compressed size they state
};

struct Archive {
  std::vector<Member> members;
  std::string comment;
  uint32_t shift = 0;  // added to every stored offset (bytes that will stand in front)
  uint16_t disk = 0, directoryDisk = 0;
  std::optional<uint16_t> recordsOnDisk, totalRecords;
  // A ZIP64 end record and locator, the end record's values all placeholders.
  bool zip64End = false;
  std::optional<uint64_t> zip64Total;  // the member count the ZIP64 record states
};

// A member with the usual headers; tests adjust the other knobs afterwards.
Member Make(std::string name, std::string data, uint16_t method = 0);

std::string Build(const Archive& archive);
std::string RawDeflate(const std::string& data);
uint32_t Crc(const std::string& data);

}  // namespace ziptest
