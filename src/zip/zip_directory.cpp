// Opening an archive: finding its end record and reading its directory.

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "zip/block_reader.h"
#include "zip/zip_file.h"
#include "zip/zip_format.h"

namespace trvzip {

using namespace format;

namespace {

// The end record sits in the last 65,535 bytes: its comment cannot be longer.
constexpr uint64_t kSearchRange = 0xFFFF;
constexpr std::size_t kSearchStep = 1024;
// The central directory is read sequentially in large blocks; local headers
// are scattered between member data, so their block is small.
constexpr std::size_t kCentralBlock = 64 * 1024;
constexpr std::size_t kLocalBlock = 4 * 1024;

// Names, extra fields and the comment are kept up to their first zero byte.
std::optional<std::string> KeptString(const std::string& stored, uint32_t storedLength) {
  if (storedLength == 0) return std::nullopt;
  return stored.substr(0, std::min(stored.size(), std::strlen(stored.c_str())));
}

bool SameHeaderValues(const uint8_t* central, const ZIP_FileEntry& e) {
  return Get16(central + 6) == e.versionNeeded && Get16(central + 8) == e.flags &&
         Get16(central + 10) == e.method && Get16(central + 12) == e.modTime &&
         Get16(central + 14) == e.modDate && Get32(central + 16) == e.crc32 &&
         Get32(central + 20) == e.compressedSize && Get32(central + 24) == e.uncompressedSize;
}

}  // namespace

// Position of the end record nearest the end of the file, 0 when none (a
// record at byte 0 is indistinguishable from none), or a negative code.
int64_t ZIP_File::FindEndRecord() {
  const auto size = file.Size();
  // Offsets on disk are 32-bit: a larger file cannot be described by them.
  if (!size || *size > kMaxOffset) return kZipErrorSeek;
  const uint64_t fileSize = *size;
  const uint64_t range = std::min(fileSize, kSearchRange);
  std::array<uint8_t, kSearchStep + 4> window;
  // Windows overlap by 4 bytes, so a signature straddling two reads is seen.
  for (uint64_t back = 4; back < range;) {
    back = std::min(back + kSearchStep, range);
    const uint64_t start = fileSize - back;
    if (!file.Seek(start)) return 0;
    const auto got = file.Read(window.data(), std::min<uint64_t>(window.size(), back));
    if (!got) return 0;
    for (std::size_t i = *got >= 4 ? *got - 3 : 0; i-- > 0;) {
      if (Get32(window.data() + i) == kEndSignature) return static_cast<int64_t>(start + i);
    }
  }
  return 0;
}

int ZIP_File::ReadEndRecord(BlockReader& reader, uint64_t position, uint32_t* total) {
  uint8_t record[kEndRecordSize];
  reader.ReadFixed(position, record, sizeof record);
  if (Get32(record) != kEndSignature) return kZipErrorFormat;
  const uint32_t commentLength = Get16(record + 20);
  centralDirOffset = Get32(record + 16);
  if (commentLength > 0) {
    comment = KeptString(reader.ReadString(position + kEndRecordSize, commentLength),
                         commentLength);
  }
  *total = Get16(record + 10);
  const bool oneDisk = Get16(record + 4) == 0 && Get16(record + 6) == 0 &&
                       Get16(record + 8) == *total;
  if (!oneDisk) {
    centralDirOffset = 0;
    return kZipErrorFormat;
  }
  return kZipOk;
}

// Reads the central header at *position and its local header into a new
// member; *position moves past the central header.
int ZIP_File::ReadMember(BlockReader& central, BlockReader& local, uint64_t* position,
                         uint32_t* lowest) {
  uint8_t ch[kCentralHeaderSize];
  central.ReadFixed(*position, ch, sizeof ch);
  if (Get32(ch) != kCentralSignature) return kZipErrorFormat;
  const uint32_t nameLength = Get16(ch + 28);
  const std::string centralName = central.ReadString(*position + sizeof ch, nameLength);
  // The central extra field and member comment are not kept.
  *position += sizeof ch + nameLength + Get16(ch + 30) + Get16(ch + 32);

  std::unique_ptr<ZIP_FileEntry> e(new (std::nothrow) ZIP_FileEntry);
  if (!e) return kZipErrorNoMemory;
  const uint32_t offset = Get32(ch + 42);
  *lowest = std::min(*lowest, offset);
  uint8_t lh[kLocalHeaderSize];
  local.ReadFixed(offset, lh, sizeof lh);
  if (Get32(lh) != kLocalSignature) return kZipErrorFormat;
  const uint32_t localNameLength = Get16(lh + 26);
  const uint32_t localExtraLength = Get16(lh + 28);
  const std::string localName = local.ReadString(offset + sizeof lh, localNameLength);
  const uint64_t extraAt = offset + sizeof lh + localNameLength;
  const uint64_t dataAt = extraAt + localExtraLength;
  if (dataAt > kMaxOffset) return kZipErrorFormat;

  e->versionMadeBy = Get16(ch + 4);
  e->versionNeeded = Get16(lh + 4);
  e->flags = Get16(lh + 6);
  e->method = Get16(lh + 8);
  e->modTime = Get16(lh + 10);
  e->modDate = Get16(lh + 12);
  e->crc32 = Get32(lh + 14);
  e->compressedSize = Get32(lh + 18);
  e->uncompressedSize = Get32(lh + 22);
  e->diskNumberStart = Get16(ch + 34);
  e->internalAttributes = Get16(ch + 36);
  e->externalAttributes = Get32(ch + 38);
  e->localHeaderOffset = offset;
  e->sourceFile = &file;
  e->dataOffset = static_cast<uint32_t>(dataAt);
  e->dataSize = e->compressedSize;
  e->name = KeptString(localName, localNameLength);
  e->extraField = KeptString(local.ReadString(extraAt, localExtraLength), localExtraLength);
  // Members written with a data descriptor differ here too (zero sizes and
  // CRC-32 in the local header); they are not supported.
  if (!SameHeaderValues(ch, *e) || centralName != localName || nameLength != localNameLength) {
    return kZipErrorFormat;
  }
  entries.push_back(std::move(e));
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

  BlockReader local(file, kLocalBlock);
  uint64_t position = centralDirOffset;
  uint32_t lowest = centralDirOffset;
  // Members that share local headers would multiply their names and extra
  // fields in memory; sound members cannot keep more bytes than the file has.
  const uint64_t fileSize = file.Size().value_or(0);
  uint64_t kept = 0;
  for (uint32_t i = 0; i < total; ++i) {
    if (const int r = ReadMember(central, local, &position, &lowest)) return r;
    kept += entries.back()->GetNameLength() + entries.back()->GetExtraFieldLength();
    if (kept > fileSize) return kZipErrorFormat;
  }
  // Whatever stands in front of the lowest stored offset is the prefix.
  prefixSize = lowest;
  return kZipOk;
}

}  // namespace trvzip
