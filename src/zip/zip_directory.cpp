// Opening an archive: finding its end record and reading its directory.

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "zip/block_reader.h"
#include "zip/zip_extra.h"
#include "zip/zip_file.h"
#include "zip/zip_records.h"

namespace trvzip {

using namespace records;

namespace {

// The end record sits in the last 65,557 bytes: its own 22 and a comment of
// at most 65,535.
constexpr uint64_t kSearchRange = 0xFFFF + EndRecord::kSize;
constexpr std::size_t kSearchStep = 1024;
// The central directory is read sequentially in large blocks; local headers
// are scattered between member data, so their block is small, unless the
// members are so small that a large block holds many of them.
constexpr std::size_t kCentralBlock = 64 * 1024;
constexpr std::size_t kLocalBlock = 4 * 1024;
constexpr std::size_t kDenseLocalBlock = 64 * 1024;
constexpr uint64_t kStringsHint = 16u << 20;
// Extra fields up to this length are held (65,535 members take at most 8 MiB);
// longer ones are read again when written.
constexpr std::size_t kHeldExtra = 128;

constexpr std::array<uint8_t, 4> kEndSignatureBytes = {0x50, 0x4B, 0x05, 0x06};

template <class Record>
Record ReadRecord(BlockReader& reader, uint64_t position) {
  std::array<uint8_t, Record::kSize> raw;
  reader.ReadFixed(position, raw);
  return Decode<Record>(raw);
}

// The values a header marks as placeholders, in the order a ZIP64 block
// lists them.
class Placeholders {
 public:
  void Add(uint64_t* value) {
    if (*value == kPlaceholder32) list_[count_++] = value;
  }
  std::span<uint64_t* const> Wanted() const { return {list_.data(), count_}; }

 private:
  std::array<uint64_t*, 3> list_{};
  std::size_t count_ = 0;
};

// The end record's values, wide enough for those of a ZIP64 end record.
struct DirectoryPlace {
  uint64_t disk, directoryDisk, recordsOnDisk, totalRecords, offset;
};

bool HasPlaceholder(const EndRecord& end) {
  return end.disk == kPlaceholder16 || end.directoryDisk == kPlaceholder16 ||
         end.recordsOnDisk == kPlaceholder16 || end.totalRecords == kPlaceholder16 ||
         end.directorySize == kPlaceholder32 || end.directoryOffset == kPlaceholder32;
}

// Whether the descriptor behind a member's data holds its central values:
// with or without the signature, with 32- or 64-bit sizes.
bool DescriptorAgrees(BlockReader& reader, uint64_t at, const CommonFields& c) {
  std::array<uint8_t, 24> raw{};
  const std::size_t got = reader.ReadAt(at, raw.data(), raw.size()).value_or(0);
  return DescriptorLength(std::span<const uint8_t>(raw.data(), got), c.crc32, c.compressedSize,
                          c.uncompressedSize) != 0;
}

// Takes the ZIP64 end record's values for the end record's placeholders. A
// ZIP64 record that cannot be found is ignored when the end record has no
// placeholder: an archive put behind a prefix may have kept stale ZIP64
// offsets that no reader needs.
ZipCause ReadZip64End(BlockReader& reader, uint64_t endAt, const EndRecord& end,
                      DirectoryPlace* place) {
  if (endAt < Zip64Locator::kSize) return ZipCause::kNone;
  const auto locator = ReadRecord<Zip64Locator>(reader, endAt - Zip64Locator::kSize);
  if (locator.signature != kZip64LocatorSignature) return ZipCause::kNone;
  if (locator.endDisk != 0 || locator.totalDisks > 1) {
    return ZipCause::kMultiDisk;
  }
  const auto z = ReadRecord<Zip64End>(reader, locator.endOffset);
  if (z.signature != kZip64EndSignature || locator.endOffset >= endAt) {
    return HasPlaceholder(end) ? ZipCause::kDamaged : ZipCause::kNone;
  }
  if (end.disk == kPlaceholder16) place->disk = z.disk;
  if (end.directoryDisk == kPlaceholder16) place->directoryDisk = z.directoryDisk;
  if (end.recordsOnDisk == kPlaceholder16) place->recordsOnDisk = z.recordsOnDisk;
  if (end.totalRecords == kPlaceholder16) place->totalRecords = z.totalRecords;
  if (end.directoryOffset == kPlaceholder32) place->offset = z.directoryOffset;
  return ZipCause::kNone;
}

}  // namespace

// Position of the end record nearest the end of the file, 0 when none (a
// record at byte 0 is indistinguishable from none), or a negative code.
int64_t ZIP_File::FindEndRecord() {
  const auto size = file.Size();
  if (!size) return kZipErrorFileSize;
  // Offsets on disk are 32-bit: a larger file cannot be described by them.
  if (*size > kMaxOffset) return Refuse(ZipCause::kZip64, kZipErrorFileSize);
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
  if (end.signature != kEndSignature) return Refuse(ZipCause::kDamaged, kZipErrorFormat);
  if (end.commentLength > 0) {
    std::string text(end.commentLength, '\0');
    text.resize(reader.ReadAt(position + EndRecord::kSize, text.data(), text.size()).value_or(0));
    // Kept up to its first zero byte.
    comment = text.substr(0, std::strlen(text.c_str()));
  }
  DirectoryPlace place{end.disk, end.directoryDisk, end.recordsOnDisk, end.totalRecords,
                       end.directoryOffset};
  if (const ZipCause why = ReadZip64End(reader, position, end, &place); why != ZipCause::kNone) {
    return Refuse(why, kZipErrorFormat);
  }
  *total = static_cast<uint32_t>(std::min<uint64_t>(place.totalRecords, kMaxMembers + 1));
  if (place.disk != 0 || place.directoryDisk != 0) {
    return Refuse(ZipCause::kMultiDisk, kZipErrorFormat);
  }
  if (place.recordsOnDisk != place.totalRecords) {
    return Refuse(ZipCause::kDamaged, kZipErrorFormat);
  }
  if (place.totalRecords > kMaxMembers || place.offset >= kPlaceholder32) {
    return Refuse(ZipCause::kZip64, kZipErrorFormat);
  }
  centralDirOffset = static_cast<uint32_t>(place.offset);
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

bool ZIP_File::ReadExtra(BlockReader& reader, uint64_t position, uint16_t length,
                         std::vector<uint8_t>& out) {
  out.resize(length);
  return reader.ReadAt(position, out.data(), length).value_or(0) == length;
}

// The central header's values, with its ZIP64 placeholders resolved; values
// that do not fit the plain headers the rewrite writes are refused.
int ZIP_File::ReadCentralValues(const CentralHeader& ch, ZIP_FileEntry& e) {
  static_cast<CommonFields&>(e) = ch.common;
  e.versionMadeBy = ch.versionMadeBy;
  e.internalAttributes = ch.internalAttributes;
  e.externalAttributes = ch.externalAttributes;
  uint64_t usize = ch.common.uncompressedSize, csize = ch.common.compressedSize;
  uint64_t offset = ch.localHeaderOffset;
  uint32_t disk = ch.diskNumberStart;
  Placeholders wide;
  wide.Add(&usize), wide.Add(&csize), wide.Add(&offset);
  const bool diskWide = ch.diskNumberStart == kPlaceholder16;
  if (!extra::ResolveZip64(centralExtra, wide.Wanted(), diskWide ? &disk : nullptr)) {
    return Refuse(ZipCause::kDamaged, kZipErrorFormat);
  }
  if (usize >= kPlaceholder32 || csize >= kPlaceholder32 || offset >= kPlaceholder32 ||
      disk >= kPlaceholder16) {
    return Refuse(ZipCause::kZip64, kZipErrorFormat);
  }
  e.uncompressedSize = static_cast<uint32_t>(usize);
  e.compressedSize = static_cast<uint32_t>(csize);
  e.localHeaderOffset = static_cast<uint32_t>(offset);
  e.diskNumberStart = static_cast<uint16_t>(disk);
  return kZipOk;
}

// Reads the local header of e, whose central values are in place, and checks
// that both headers agree. With a data descriptor the local CRC-32 and sizes
// may be zero, and the descriptor behind the data must hold the central values.
int ZIP_File::ReadLocal(BlockReader& central, uint64_t centralNameAt, BlockReader& local,
                        const CentralHeader& ch, ZIP_FileEntry& e) {
  const uint64_t offset = e.localHeaderOffset;
  const auto lh = ReadRecord<LocalHeader>(local, offset);
  const uint64_t nameAt = offset + LocalHeader::kSize;
  const uint64_t extraAt = nameAt + lh.common.nameLength;
  const uint64_t dataAt = extraAt + lh.common.extraLength;
  if (lh.signature != kLocalSignature || dataAt > kMaxOffset ||
      !ReadExtra(local, extraAt, lh.common.extraLength, localExtra)) {
    return Refuse(ZipCause::kDamaged, kZipErrorFormat);
  }
  uint64_t usize = lh.common.uncompressedSize, csize = lh.common.compressedSize;
  Placeholders wide;
  wide.Add(&usize), wide.Add(&csize);
  const bool descriptor = (ch.common.flags & kFlagDescriptor) != 0;
  const auto agrees = [descriptor](uint64_t local, uint64_t central) {
    return local == central || (descriptor && local == 0);
  };
  const CommonFields& l = lh.common;
  const CommonFields& c = ch.common;
  // Writers raise the version needed to 4.5 only in a header that uses
  // ZIP64; without it, the lower one holds for both.
  const bool zip64 = !wide.Wanted().empty() || !extra::FindZip64(localExtra).empty() ||
                     !extra::FindZip64(centralExtra).empty() ||
                     c.compressedSize == kPlaceholder32 || c.uncompressedSize == kPlaceholder32 ||
                     ch.localHeaderOffset == kPlaceholder32;
  e.versionNeeded = std::min(l.versionNeeded, c.versionNeeded);
  if (!extra::ResolveZip64(localExtra, wide.Wanted(), nullptr) ||
      (l.versionNeeded != c.versionNeeded && !zip64) || l.flags != c.flags ||
      l.method != c.method || l.modTime != c.modTime || l.modDate != c.modDate ||
      !agrees(l.crc32, e.crc32) || !agrees(csize, e.compressedSize) ||
      !agrees(usize, e.uncompressedSize) || l.nameLength != c.nameLength ||
      !KeepName(central, centralNameAt, local, nameAt, l.nameLength, e)) {
    return Refuse(ZipCause::kDamaged, kZipErrorFormat);
  }
  if (descriptor && !DescriptorAgrees(local, dataAt + e.compressedSize, e)) {
    return Refuse(ZipCause::kDescriptor, kZipErrorFormat);
  }
  extra::WithoutZip64(localExtra, &keptExtra);
  e.extraLength = static_cast<uint16_t>(keptExtra.size());
  e.storedExtraAt = static_cast<uint32_t>(extraAt);
  e.storedExtraLength = l.extraLength;
  if (!keptExtra.empty() && keptExtra.size() <= kHeldExtra) {
    e.heldExtraAt = static_cast<uint32_t>(strings.size());
    strings.insert(strings.end(), keptExtra.begin(), keptExtra.end());
  }
  e.flags = static_cast<uint16_t>(e.flags & ~kFlagDescriptor);
  e.sourceFile = &file;
  e.dataOffset = static_cast<uint32_t>(dataAt);
  return kZipOk;
}

// Reads the central header at *position and its local header into the next
// member; *position moves past the central header.
int ZIP_File::ReadMember(BlockReader& central, BlockReader& local, uint64_t* position,
                         uint32_t* lowest) {
  const auto ch = ReadRecord<CentralHeader>(central, *position);
  const uint64_t centralNameAt = *position + CentralHeader::kSize;
  const uint64_t centralExtraAt = centralNameAt + ch.common.nameLength;
  // The central extra field and member comment are not kept.
  *position = centralExtraAt + ch.common.extraLength + ch.commentLength;
  if (ch.signature != kCentralSignature ||
      !ReadExtra(central, centralExtraAt, ch.common.extraLength, centralExtra)) {
    return Refuse(ZipCause::kDamaged, kZipErrorFormat);
  }
  ZIP_FileEntry& e = entries[entryCount];
  if (const int r = ReadCentralValues(ch, e)) return r;
  *lowest = std::min(*lowest, e.localHeaderOffset);
  if (const int r = ReadLocal(central, centralNameAt, local, ch, e)) return r;
  ++entryCount;
  return kZipOk;
}

int ZIP_File::ReadDirectory() {
  const int64_t found = FindEndRecord();
  if (found < 0) return static_cast<int>(found);
  if (found == 0) return Refuse(ZipCause::kNotZip, kZipErrorNoEndRecord);
  BlockReader central(file, kCentralBlock);
  uint32_t total = 0;
  if (const int r = ReadEndRecord(central, static_cast<uint64_t>(found), &total)) return r;
  if (centralDirOffset == 0) return kZipOk;
  // Each member takes a central header between the directory's offset and the
  // end of the file: a count that cannot fit there is refused before the
  // members are allocated for it.
  const uint64_t fileSize = file.Size().value_or(0);
  const uint64_t directoryRoom = fileSize - std::min<uint64_t>(fileSize, centralDirOffset);
  if (uint64_t{total} * CentralHeader::kSize > directoryRoom) {
    return Refuse(ZipCause::kDamaged, kZipErrorFormat);
  }

  entries.reset(new (std::nothrow) ZIP_FileEntry[total]);
  if (!entries) return kZipErrorNoMemory;
  // The kept names take fewer bytes than the directory that lists them: room
  // for them up front spares the store its regrowth copies. Only a hint, and
  // capped: a store that outgrows it still grows.
  if (static_cast<uint64_t>(found) > centralDirOffset) {
    strings.reserve(static_cast<std::size_t>(
        std::min<uint64_t>(static_cast<uint64_t>(found) - centralDirOffset, kStringsHint)));
  }
  const bool dense = centralDirOffset / std::max<uint32_t>(total, 1) <= kLocalBlock;
  BlockReader local(file, dense ? kDenseLocalBlock : kLocalBlock);
  uint64_t position = centralDirOffset;
  uint32_t lowest = centralDirOffset;
  // Sound members lie apart: local records that add up to more than the file
  // overlap, and the rewrite would write the shared bytes once per member.
  uint64_t covered = 0;
  for (uint32_t i = 0; i < total; ++i) {
    if (const int r = ReadMember(central, local, &position, &lowest)) return r;
    const ZIP_FileEntry& e = entries[entryCount - 1];
    covered += LocalHeader::kSize + e.nameLength + e.storedExtraLength + e.compressedSize;
    if (covered > fileSize) return Refuse(ZipCause::kDamaged, kZipErrorFormat);
  }
  for (uint32_t i = 0; i < entryCount; ++i) {
    ZIP_FileEntry& e = entries[i];
    e.name = e.nameAt == ZIP_FileEntry::kNoString ? nullptr : strings.data() + e.nameAt;
    if (e.heldExtraAt != ZIP_FileEntry::kNoString) {
      e.heldExtra = reinterpret_cast<const uint8_t*>(strings.data() + e.heldExtraAt);
    }
  }
  // Whatever stands in front of the lowest stored offset is the prefix.
  prefixSize = lowest;
  return kZipOk;
}

}  // namespace trvzip
