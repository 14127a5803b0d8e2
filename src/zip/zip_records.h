#pragma once
// The records of a ZIP archive as this layer reads and writes them: local
// file header, central directory header, end of central directory record,
// the data descriptor (written), and the ZIP64 end record and its locator.
// Each lists its fields once, in record order; that one list both decodes
// and encodes it.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "bytes/byte_reader.h"
#include "bytes/byte_writer.h"

namespace trvzip::records {

inline constexpr uint32_t kLocalSignature = 0x04034b50;
inline constexpr uint32_t kCentralSignature = 0x02014b50;
inline constexpr uint32_t kEndSignature = 0x06054b50;
inline constexpr uint32_t kZip64EndSignature = 0x06064b50;
inline constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
inline constexpr uint32_t kDescriptorSignature = 0x08074b50;

// Flag bits: encrypted data, and CRC-32 and sizes in a descriptor behind the data.
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDescriptor = 0x0008;
// A 16- or 32-bit value that stands for one in a ZIP64 record or extra field.
inline constexpr uint16_t kPlaceholder16 = 0xFFFF;
inline constexpr uint32_t kPlaceholder32 = 0xFFFFFFFFu;

// The fields local and central headers share, from "version needed" on.
struct CommonFields {
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t modTime = 0;
  uint16_t modDate = 0;
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;

  template <class Io, class Self>
  static void Fields(Io& io, Self& r) {
    io.Field(r.versionNeeded), io.Field(r.flags), io.Field(r.method), io.Field(r.modTime);
    io.Field(r.modDate), io.Field(r.crc32), io.Field(r.compressedSize);
    io.Field(r.uncompressedSize), io.Field(r.nameLength), io.Field(r.extraLength);
  }
  // Equal in everything but the lengths of the strings that follow.
  bool SameValues(const CommonFields& o) const {
    return versionNeeded == o.versionNeeded && flags == o.flags && method == o.method &&
           modTime == o.modTime && modDate == o.modDate && crc32 == o.crc32 &&
           compressedSize == o.compressedSize && uncompressedSize == o.uncompressedSize;
  }
};

struct LocalHeader {
  static constexpr std::size_t kSize = 30;
  uint32_t signature = kLocalSignature;
  CommonFields common;

  template <class Io, class Self>
  static void Fields(Io& io, Self& r) {
    io.Field(r.signature);
    CommonFields::Fields(io, r.common);
  }
};

struct CentralHeader {
  static constexpr std::size_t kSize = 46;
  uint32_t signature = kCentralSignature;
  uint16_t versionMadeBy = 0;
  CommonFields common;
  uint16_t commentLength = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint32_t localHeaderOffset = 0;

  template <class Io, class Self>
  static void Fields(Io& io, Self& r) {
    io.Field(r.signature), io.Field(r.versionMadeBy);
    CommonFields::Fields(io, r.common);
    io.Field(r.commentLength), io.Field(r.diskNumberStart), io.Field(r.internalAttributes);
    io.Field(r.externalAttributes), io.Field(r.localHeaderOffset);
  }
};

struct EndRecord {
  static constexpr std::size_t kSize = 22;
  uint32_t signature = kEndSignature;
  uint16_t disk = 0;
  uint16_t directoryDisk = 0;
  uint16_t recordsOnDisk = 0;
  uint16_t totalRecords = 0;
  uint32_t directorySize = 0;
  uint32_t directoryOffset = 0;
  uint16_t commentLength = 0;

  template <class Io, class Self>
  static void Fields(Io& io, Self& r) {
    io.Field(r.signature), io.Field(r.disk), io.Field(r.directoryDisk);
    io.Field(r.recordsOnDisk), io.Field(r.totalRecords), io.Field(r.directorySize);
    io.Field(r.directoryOffset), io.Field(r.commentLength);
  }
};

// The data descriptor as written: with its signature, and with 32-bit sizes,
// or 64-bit ones for a member whose sizes need ZIP64.
template <class Size>
struct DescriptorOf {
  static constexpr std::size_t kSize = 8 + 2 * sizeof(Size);
  uint32_t signature = kDescriptorSignature;
  uint32_t crc32 = 0;
  Size compressedSize = 0;
  Size uncompressedSize = 0;

  template <class Io, class Self>
  static void Fields(Io& io, Self& r) {
    io.Field(r.signature), io.Field(r.crc32), io.Field(r.compressedSize);
    io.Field(r.uncompressedSize);
  }
};
using Descriptor = DescriptorOf<uint32_t>;
using Descriptor64 = DescriptorOf<uint64_t>;

// Found, when present, right in front of the end record.
struct Zip64Locator {
  static constexpr std::size_t kSize = 20;
  uint32_t signature = kZip64LocatorSignature;
  uint32_t endDisk = 0;
  uint64_t endOffset = 0;
  uint32_t totalDisks = 0;

  template <class Io, class Self>
  static void Fields(Io& io, Self& r) {
    io.Field(r.signature), io.Field(r.endDisk), io.Field(r.endOffset), io.Field(r.totalDisks);
  }
};

// Its fixed part; an extensible data sector may follow and is not read.
struct Zip64End {
  static constexpr std::size_t kSize = 56;
  uint32_t signature = kZip64EndSignature;
  uint64_t recordSize = 0;
  uint16_t versionMadeBy = 0;
  uint16_t versionNeeded = 0;
  uint32_t disk = 0;
  uint32_t directoryDisk = 0;
  uint64_t recordsOnDisk = 0;
  uint64_t totalRecords = 0;
  uint64_t directorySize = 0;
  uint64_t directoryOffset = 0;

  template <class Io, class Self>
  static void Fields(Io& io, Self& r) {
    io.Field(r.signature), io.Field(r.recordSize), io.Field(r.versionMadeBy);
    io.Field(r.versionNeeded), io.Field(r.disk), io.Field(r.directoryDisk);
    io.Field(r.recordsOnDisk), io.Field(r.totalRecords), io.Field(r.directorySize);
    io.Field(r.directoryOffset);
  }
};

// The length of the data descriptor at the start of bytes that holds crc and
// the sizes given: with or without its signature, with 32- or 64-bit sizes.
// 0 when none does.
inline std::size_t DescriptorLength(std::span<const uint8_t> bytes, uint32_t crc,
                                    uint64_t compressedSize, uint64_t uncompressedSize) {
  const bool signed_ = bytes::ByteReader(bytes).U32() == kDescriptorSignature;
  for (const std::size_t start : {std::size_t{0}, std::size_t{4}}) {
    if (start == 4 && !signed_) break;
    bytes::ByteReader narrow(bytes, start), wide(bytes, start);
    if (narrow.U32() == crc && narrow.U32() == compressedSize &&
        narrow.U32() == uncompressedSize && narrow.Ok()) {
      return narrow.Offset();
    }
    if (wide.U32() == crc && wide.U64() == compressedSize && wide.U64() == uncompressedSize &&
        wide.Ok()) {
      return wide.Offset();
    }
  }
  return 0;
}

template <class Record>
Record Decode(const std::array<uint8_t, Record::kSize>& raw) {
  Record record;
  bytes::ByteReader in(raw);
  Record::Fields(in, record);
  return record;
}

template <class Record>
std::array<uint8_t, Record::kSize> Encode(const Record& record) {
  std::vector<uint8_t> raw;
  raw.reserve(Record::kSize);
  bytes::ByteWriter out(raw);
  Record::Fields(out, record);
  raw.resize(Record::kSize);  // the fields fill it exactly
  std::array<uint8_t, Record::kSize> fixed{};
  std::copy(raw.begin(), raw.end(), fixed.begin());
  return fixed;
}

}  // namespace trvzip::records
