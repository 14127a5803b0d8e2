// Opening an archive: finding its end record and reading its directory.

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "zip/block_reader.h"
#include "zip/member_headers.h"
#include "zip/zip_end_records.h"
#include "zip/zip_extra.h"
#include "zip/zip_file.h"
#include "zip/zip_records.h"

namespace trvzip {

using namespace records;

namespace {

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

// Whether the descriptor behind a member's data holds its central values:
// with or without the signature, with 32- or 64-bit sizes.
bool DescriptorAgrees(BlockReader& reader, uint64_t at, const ZIP_FileEntry& c) {
  std::array<uint8_t, 24> raw{};
  const std::size_t got = reader.ReadAt(at, raw.data(), raw.size()).value_or(0);
  return DescriptorLength(std::span<const uint8_t>(raw.data(), got), c.crc32, c.compressedSize,
                          c.uncompressedSize) != 0;
}

}  // namespace

// Position of the end record nearest the end of the file, 0 when none (a
// record at byte 0 is indistinguishable from none), or a negative code.
int64_t ZIP_File::FindEndRecord() {
  const auto size = file.Size();
  if (!size) return kZipErrorFileSize;
  return static_cast<int64_t>(trvzip::FindEndRecord(file, *size).value_or(0));
}

int ZIP_File::ReadEndRecord(BlockReader& reader, uint64_t position, uint32_t* total) {
  const auto end = ReadRecord<EndRecord>(reader, position);
  if (end.signature != kEndSignature) return kZipErrorDamaged;
  if (end.commentLength > 0) {
    std::string text(end.commentLength, '\0');
    text.resize(reader.ReadAt(position + EndRecord::kSize, text.data(), text.size()).value_or(0));
    // Kept up to its first zero byte.
    comment = text.substr(0, std::strlen(text.c_str()));
  }
  DirectoryPlace place;
  if (const int r = ReadEndRecords(reader, position, end, &place)) return r;
  if (place.disk != 0 || place.directoryDisk != 0) {
    return kZipErrorMultiDisk;
  }
  // The directory lies in front of the end records, and each member takes a
  // central header of it: a count it cannot hold is refused before the
  // members are allocated for it.
  if (place.recordsOnDisk != place.totalRecords || place.offset > place.recordsStart ||
      place.size > place.recordsStart - place.offset ||
      place.totalRecords > place.size / CentralHeader::kSize) {
    return kZipErrorDamaged;
  }
  if (place.totalRecords >= UINT32_MAX) return kZipErrorDamaged;
  *total = static_cast<uint32_t>(place.totalRecords);
  centralDirOffset = place.offset;
  centralDirEnd = place.offset + place.size;
  return kZipOk;
}

// Appends the length bytes at position to the string store, and a zero byte;
// returns where they start (kNoString for a string stored with length 0)
// and stores how many the file held in *got.
std::size_t ZIP_File::KeepString(BlockReader& reader, uint64_t position, uint16_t length,
                              uint16_t* got) {
  const std::size_t at = strings.size();
  strings.resize(at + length + 1);
  *got = static_cast<uint16_t>(reader.ReadAt(position, strings.data() + at, length).value_or(0));
  strings.resize(at + *got + 1);
  strings.back() = '\0';
  return length == 0 ? ZIP_FileEntry::kNoString : at;
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

// The central header's values, with its ZIP64 placeholders resolved.
int ZIP_File::ReadCentralValues(const CentralHeader& ch, ZIP_FileEntry& e) {
  const CommonFields& c = ch.common;
  e.versionNeeded = c.versionNeeded, e.flags = c.flags, e.method = c.method;
  e.modTime = c.modTime, e.modDate = c.modDate, e.crc32 = c.crc32;
  e.nameLength = c.nameLength, e.extraLength = c.extraLength;
  e.versionMadeBy = ch.versionMadeBy;
  e.internalAttributes = ch.internalAttributes;
  e.externalAttributes = ch.externalAttributes;
  CentralValues values;
  if (!ResolveCentral(ch, centralExtra, &values)) return kZipErrorDamaged;
  if (values.disk >= kPlaceholder16) return kZipErrorMultiDisk;
  e.uncompressedSize = values.uncompressedSize, e.compressedSize = values.compressedSize;
  e.localHeaderOffset = values.localHeaderOffset;
  e.diskNumberStart = static_cast<uint16_t>(values.disk);
  // Every member lies in front of the directory that lists it.
  if (e.localHeaderOffset >= centralDirOffset) return kZipErrorDamaged;
  return kZipOk;
}

// Reads the local header of e, whose central values are in place, and checks
// that both headers agree (LocalDisagreement); with a data descriptor, the one
// behind the data must hold the central values.
int ZIP_File::ReadLocal(BlockReader& central, uint64_t centralNameAt, BlockReader& local,
                        const CentralHeader& ch, ZIP_FileEntry& e) {
  const uint64_t offset = e.localHeaderOffset;
  const auto lh = ReadRecord<LocalHeader>(local, offset);
  const uint64_t nameAt = offset + LocalHeader::kSize;
  const uint64_t extraAt = nameAt + lh.common.nameLength;
  const uint64_t dataAt = extraAt + lh.common.extraLength;
  if (lh.signature != kLocalSignature || dataAt > centralDirOffset ||
      e.compressedSize > centralDirOffset - dataAt ||
      !ReadExtra(local, extraAt, lh.common.extraLength, localExtra)) {
    return kZipErrorDamaged;
  }
  const CommonFields& l = lh.common;
  const CommonFields& c = ch.common;
  const bool descriptor = (l.flags & kFlagDescriptor) != 0;
  const CentralValues values{e.uncompressedSize, e.compressedSize, e.localHeaderOffset,
                             e.diskNumberStart};
  e.versionNeeded = std::min(l.versionNeeded, c.versionNeeded);
  if (LocalDisagreement(lh, localExtra, ch, centralExtra, values) != nullptr ||
      !KeepName(central, centralNameAt, local, nameAt, l.nameLength, e)) {
    return kZipErrorDamaged;
  }
  if (descriptor && !DescriptorAgrees(local, dataAt + e.compressedSize, e)) {
    return kZipErrorDescriptor;
  }
  KeepExtraFields(centralNameAt + c.nameLength, c.extraLength, extraAt, l.extraLength, e);
  // The check byte of an encrypted member written with a descriptor is taken
  // from its time, not its CRC-32, and readers tell which by the flag.
  e.keepsDescriptor = descriptor && (c.flags & kFlagEncrypted) != 0;
  if (!e.keepsDescriptor) e.flags = static_cast<uint16_t>(e.flags & ~kFlagDescriptor);
  e.sourceFile = &file;
  e.dataOffset = dataAt;
  return kZipOk;
}

// The extra fields the rewrite writes: the local one in both headers, but for
// its ZIP64 blocks. Readers walk the central one as blocks, and some refuse an
// archive whose blocks run past its end: a local field like that stays in the
// local header alone, and the central header keeps its own.
void ZIP_File::KeepExtraFields(uint64_t centralAt, uint16_t centralLength, uint64_t localAt,
                               uint16_t localLength, ZIP_FileEntry& e) {
  extra::WithoutZip64(localExtra, &keptExtra);
  e.extraLength = e.centralExtraLength = static_cast<uint16_t>(keptExtra.size());
  e.storedExtraAt = localAt;
  e.storedExtraLength = localLength;
  if (!keptExtra.empty() && keptExtra.size() <= kHeldExtra) {
    e.heldExtraAt = strings.size();
    strings.insert(strings.end(), keptExtra.begin(), keptExtra.end());
  }
  if (extra::Walkable(localExtra)) return;
  extra::WithoutZip64(centralExtra, &keptExtra);
  e.ownCentralExtra = true;
  e.centralExtraLength = static_cast<uint16_t>(keptExtra.size());
  e.storedCentralExtraAt = centralAt;
  e.storedCentralExtraLength = centralLength;
}

// Reads the central header at *position and its local header into the next
// member; *position moves past the central header.
int ZIP_File::ReadMember(BlockReader& central, BlockReader& local, uint64_t* position,
                         uint64_t* lowest) {
  const auto ch = ReadRecord<CentralHeader>(central, *position);
  const uint64_t centralNameAt = *position + CentralHeader::kSize;
  const uint64_t centralExtraAt = centralNameAt + ch.common.nameLength;
  // The central extra field and member comment are not kept.
  *position = centralExtraAt + ch.common.extraLength + ch.commentLength;
  // A count the directory does not hold would read headers past its end.
  if (ch.signature != kCentralSignature || *position > centralDirEnd ||
      !ReadExtra(central, centralExtraAt, ch.common.extraLength, centralExtra)) {
    return kZipErrorDamaged;
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
  if (found == 0) return kZipErrorNoEndRecord;
  BlockReader central(file, kCentralBlock);
  uint32_t total = 0;
  if (const int r = ReadEndRecord(central, static_cast<uint64_t>(found), &total)) return r;
  if (centralDirOffset == 0) return kZipOk;
  const uint64_t fileSize = file.Size().value_or(0);

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
  uint64_t lowest = centralDirOffset;
  // Sound members lie apart: local records that add up to more than the file
  // overlap, and the rewrite would write the shared bytes once per member.
  uint64_t covered = 0;
  for (uint32_t i = 0; i < total; ++i) {
    if (const int r = ReadMember(central, local, &position, &lowest)) return r;
    const ZIP_FileEntry& e = entries[entryCount - 1];
    covered += LocalHeader::kSize + e.nameLength + e.storedExtraLength + e.compressedSize;
    if (covered > fileSize) return kZipErrorDamaged;
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
