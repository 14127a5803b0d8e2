// Opening an archive: finding its end record and reading its directory.

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "zip/block_reader.h"
#include "zip/zip_file.h"
#include "zip/zip_records.h"

namespace trvzip {

using namespace records;

namespace {

// The end record sits in the last 65,535 bytes: its comment cannot be longer.
constexpr uint64_t kSearchRange = 0xFFFF;
constexpr std::size_t kSearchStep = 1024;
// The central directory is read sequentially in large blocks; local headers
// are scattered between member data, so their block is small, unless the
// members are so small that a large block holds many of them.
constexpr std::size_t kCentralBlock = 64 * 1024;
constexpr std::size_t kLocalBlock = 4 * 1024;
constexpr std::size_t kDenseLocalBlock = 64 * 1024;
constexpr uint64_t kStringsHint = 16u << 20;

constexpr std::array<uint8_t, 4> kEndSignatureBytes = {0x50, 0x4B, 0x05, 0x06};

template <class Record>
Record ReadRecord(BlockReader& reader, uint64_t position) {
  std::array<uint8_t, Record::kSize> raw;
  reader.ReadFixed(position, raw);
  return Decode<Record>(raw);
}

}  // namespace

// Position of the end record nearest the end of the file, 0 when none (a
// record at byte 0 is indistinguishable from none), or a negative code.
int64_t ZIP_File::FindEndRecord() {
  const auto size = file.Size();
  // Offsets on disk are 32-bit: a larger file cannot be described by them.
  if (!size || *size > kMaxOffset) return kZipErrorFileSize;
  const uint64_t fileSize = *size;
  const uint64_t range = std::min(fileSize, kSearchRange);
  std::array<uint8_t, kSearchStep + 4> window;
  // Windows overlap by 4 bytes, so a signature straddling two reads is seen.
  for (uint64_t back = 4; back < range;) {
    back = std::min(back + kSearchStep, range);
    const uint64_t start = fileSize - back;
    const auto got = file.ReadAt(start, window.data(), std::min<uint64_t>(window.size(), back));
    if (!got) return 0;
    for (std::size_t i = *got >= 4 ? *got - 3 : 0; i-- > 0;) {
      if (std::equal(kEndSignatureBytes.begin(), kEndSignatureBytes.end(), window.data() + i)) {
        return static_cast<int64_t>(start + i);
      }
    }
  }
  return 0;
}

int ZIP_File::ReadEndRecord(BlockReader& reader, uint64_t position, uint32_t* total) {
  const auto end = ReadRecord<EndRecord>(reader, position);
  if (end.signature != kEndSignature) return kZipErrorFormat;
  centralDirOffset = end.directoryOffset;
  if (end.commentLength > 0) {
    std::string text(end.commentLength, '\0');
    text.resize(reader.ReadAt(position + EndRecord::kSize, text.data(), text.size()).value_or(0));
    // Kept up to its first zero byte.
    comment = text.substr(0, std::strlen(text.c_str()));
  }
  *total = end.totalRecords;
  if (end.disk != 0 || end.directoryDisk != 0 || end.recordsOnDisk != end.totalRecords) {
    centralDirOffset = 0;
    return kZipErrorFormat;
  }
  return kZipOk;
}

// Appends the length bytes at position to the string store, and a zero byte;
// returns where they start (kNoString for a string stored with length 0)
// and stores how many the file held in *got.
uint32_t ZIP_File::KeepString(BlockReader& reader, uint64_t position, uint16_t length,
                              uint16_t* got) {
  const std::size_t at = strings.size();
  strings.resize(at + length + 1);
  *got = static_cast<uint16_t>(reader.ReadAt(position, strings.data() + at, length).value_or(0));
  strings.resize(at + *got + 1);
  strings.back() = '\0';
  return length == 0 ? ZIP_FileEntry::kNoString : static_cast<uint32_t>(at);
}

// The member's name: the local header's bytes, which must equal the central
// header's byte for byte, kept up to their first zero byte.
bool ZIP_File::KeepName(BlockReader& central, uint64_t centralAt, BlockReader& local,
                        uint64_t localAt, uint16_t length, ZIP_FileEntry& e) {
  uint16_t got = 0;
  e.nameAt = KeepString(local, localAt, length, &got);
  if (length == 0) return true;
  scratch.resize(length);
  if (got != length || central.ReadAt(centralAt, scratch.data(), length).value_or(0) != length ||
      scratch.compare(0, length, strings.data() + e.nameAt, length) != 0) {
    return false;
  }
  e.nameLength = static_cast<uint16_t>(::strnlen(strings.data() + e.nameAt, length));
  strings.resize(e.nameAt + e.nameLength + 1);
  return true;
}

namespace {

// The kept strings' lengths replace the stored ones afterwards.
void FillMember(ZIP_FileEntry& e, const CentralHeader& ch, const LocalHeader& lh) {
  static_cast<CommonFields&>(e) = lh.common;
  e.versionMadeBy = ch.versionMadeBy;
  e.diskNumberStart = ch.diskNumberStart;
  e.internalAttributes = ch.internalAttributes;
  e.externalAttributes = ch.externalAttributes;
  e.localHeaderOffset = ch.localHeaderOffset;
}

}  // namespace

// Reads the central header at *position and its local header into the next
// member; *position moves past the central header.
int ZIP_File::ReadMember(BlockReader& central, BlockReader& local, uint64_t* position,
                         uint32_t* lowest) {
  const auto ch = ReadRecord<CentralHeader>(central, *position);
  if (ch.signature != kCentralSignature) return kZipErrorFormat;
  const uint64_t centralNameAt = *position + CentralHeader::kSize;
  // The central extra field and member comment are not kept.
  *position = centralNameAt + ch.common.nameLength + ch.common.extraLength + ch.commentLength;

  const uint32_t offset = ch.localHeaderOffset;
  *lowest = std::min(*lowest, offset);
  const auto lh = ReadRecord<LocalHeader>(local, offset);
  const uint64_t nameAt = offset + LocalHeader::kSize;
  const uint64_t extraAt = nameAt + lh.common.nameLength;
  const uint64_t dataAt = extraAt + lh.common.extraLength;
  // Members written with a data descriptor differ here too (zero sizes and
  // CRC-32 in the local header); they are not supported.
  ZIP_FileEntry& e = entries[entryCount];
  FillMember(e, ch, lh);
  if (lh.signature != kLocalSignature || dataAt > kMaxOffset || !lh.common.SameValues(ch.common) ||
      lh.common.nameLength != ch.common.nameLength ||
      !KeepName(central, centralNameAt, local, nameAt, lh.common.nameLength, e)) {
    return kZipErrorFormat;
  }
  e.extraAt = KeepString(local, extraAt, lh.common.extraLength, &e.extraLength);
  e.sourceFile = &file;
  e.dataOffset = static_cast<uint32_t>(dataAt);
  ++entryCount;
  return kZipOk;
}

int ZIP_File::ReadDirectory() {
  const int64_t found = FindEndRecord();
  if (found < 0) return static_cast<int>(found);
  if (found == 0) return kZipErrorNoEndRecord;
  BlockReader central(file, kCentralBlock);
  uint32_t total = 0;
  if (const int r = ReadEndRecord(central, static_cast<uint64_t>(found), &total)) return r;
  if (centralDirOffset == 0) return kZipOk;
  // Each member takes a central header between the directory's offset and the
  // end of the file: a count that cannot fit there is refused before the
  // members are allocated for it.
  const uint64_t fileSize = file.Size().value_or(0);
  const uint64_t directoryRoom = fileSize - std::min<uint64_t>(fileSize, centralDirOffset);
  if (uint64_t{total} * CentralHeader::kSize > directoryRoom) return kZipErrorFormat;

  entries.reset(new (std::nothrow) ZIP_FileEntry[total]);
  if (!entries) return kZipErrorNoMemory;
  // The kept names and extra fields take about as many bytes as the directory
  // that lists them: room for them up front spares the store its regrowth
  // copies. Only a hint, and capped: a store that outgrows it still grows.
  if (static_cast<uint64_t>(found) > centralDirOffset) {
    strings.reserve(static_cast<std::size_t>(
        std::min<uint64_t>(static_cast<uint64_t>(found) - centralDirOffset, kStringsHint)));
  }
  const bool dense = centralDirOffset / std::max<uint32_t>(total, 1) <= kLocalBlock;
  BlockReader local(file, dense ? kDenseLocalBlock : kLocalBlock);
  uint64_t position = centralDirOffset;
  uint32_t lowest = centralDirOffset;
  // Members that share local headers would multiply their names and extra
  // fields in memory; sound members cannot keep more bytes than the file has.
  for (uint32_t i = 0; i < total; ++i) {
    if (const int r = ReadMember(central, local, &position, &lowest)) return r;
    if (strings.size() > fileSize + 2 * uint64_t{entryCount}) return kZipErrorFormat;
  }
  for (uint32_t i = 0; i < entryCount; ++i) {
    ZIP_FileEntry& e = entries[i];
    e.name = e.nameAt == ZIP_FileEntry::kNoString ? nullptr : strings.data() + e.nameAt;
    e.extraField = e.extraAt == ZIP_FileEntry::kNoString ? nullptr : strings.data() + e.extraAt;
  }
  // Whatever stands in front of the lowest stored offset is the prefix.
  prefixSize = lowest;
  return kZipOk;
}

}  // namespace trvzip
