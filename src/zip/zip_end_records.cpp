#include "zip/zip_end_records.h"

#include <algorithm>
#include <array>

#include "zip/block_reader.h"
#include "zip/output_buffer.h"

namespace trvzip {

using namespace records;

namespace {

// The end record sits in the last 65,557 bytes: its own 22 and a comment of
// at most 65,535. They are searched from the end in small windows.
constexpr uint64_t kSearchRange = 0xFFFF + EndRecord::kSize;
constexpr std::size_t kSearchStep = 1024;
constexpr std::array<uint8_t, 4> kEndSignatureBytes = {0x50, 0x4B, 0x05, 0x06};

}  // namespace

std::optional<uint64_t> FindEndRecord(const platform::FileHandle& file, uint64_t limit) {
  const uint64_t range = std::min(limit, kSearchRange);
  std::array<uint8_t, kSearchStep + 4> window;
  // Windows overlap by 4 bytes, so a signature straddling two reads is seen.
  for (uint64_t back = 4; back < range;) {
    back = std::min(back + kSearchStep, range);
    const uint64_t start = limit - back;
    const auto got =
        file.ReadShared(start, window.data(), std::min<uint64_t>(window.size(), back));
    if (!got) return std::nullopt;
    for (std::size_t i = *got >= 4 ? *got - 3 : 0; i-- > 0;) {
      if (std::equal(kEndSignatureBytes.begin(), kEndSignatureBytes.end(), window.data() + i)) {
        return start + i;
      }
    }
  }
  return std::nullopt;
}

namespace {

// The fields of the ZIP64 end record in front of its extensible data.
constexpr uint64_t kZip64EndTail = Zip64End::kSize - 12;
constexpr uint16_t kZip64Version = 45;

bool HasPlaceholder(const EndRecord& end) {
  return end.disk == kPlaceholder16 || end.directoryDisk == kPlaceholder16 ||
         end.recordsOnDisk == kPlaceholder16 || end.totalRecords == kPlaceholder16 ||
         end.directorySize == kPlaceholder32 || end.directoryOffset == kPlaceholder32;
}

// A plain value agrees with the ZIP64 one unless it is a value of its own.
template <class Plain>
bool Agrees(Plain plain, uint64_t wide, Plain placeholder) {
  return plain == placeholder || plain == wide;
}

bool AgreesWith(const EndRecord& end, const Zip64End& z) {
  return Agrees(end.disk, z.disk, kPlaceholder16) &&
         Agrees(end.directoryDisk, z.directoryDisk, kPlaceholder16) &&
         Agrees(end.recordsOnDisk, z.recordsOnDisk, kPlaceholder16) &&
         Agrees(end.totalRecords, z.totalRecords, kPlaceholder16) &&
         Agrees(end.directorySize, z.directorySize, kPlaceholder32) &&
         Agrees(end.directoryOffset, z.directoryOffset, kPlaceholder32);
}

// The ZIP64 end record the locator at locatorAt leads to, checked against the
// end record; the cause when it is not sound.
int ReadZip64End(BlockReader& reader, uint64_t locatorAt, const EndRecord& end,
                      DirectoryPlace* place) {
  const auto locator = ReadRecord<Zip64Locator>(reader, locatorAt);
  if (locator.endDisk != 0 || locator.totalDisks > 1) return kZipErrorMultiDisk;
  const uint64_t at = locator.endOffset;
  const bool placed = at < locatorAt && locatorAt - at >= Zip64End::kSize;
  const auto z = placed ? ReadRecord<Zip64End>(reader, at) : Zip64End{};
  const bool endsAtLocator = placed && z.signature == kZip64EndSignature &&
                             z.recordSize >= kZip64EndTail && z.recordSize == locatorAt - at - 12;
  if (!endsAtLocator) return HasPlaceholder(end) ? kZipErrorDamaged : kZipOk;
  if (!AgreesWith(end, z) || z.directoryOffset > at || z.directorySize > at - z.directoryOffset) {
    return kZipErrorDamaged;
  }
  *place = {z.disk, z.directoryDisk, z.recordsOnDisk, z.totalRecords, z.directoryOffset,
            z.directorySize, at};
  return kZipOk;
}

}  // namespace

int ReadEndRecords(BlockReader& reader, uint64_t endAt, const EndRecord& end,
                        DirectoryPlace* place) {
  *place = {end.disk, end.directoryDisk, end.recordsOnDisk, end.totalRecords,
            end.directoryOffset, end.directorySize, endAt};
  const bool wide = end.directorySize == kPlaceholder32 || end.directoryOffset == kPlaceholder32;
  bool locator = false;
  if (endAt >= Zip64Locator::kSize) {
    std::array<uint8_t, 4> signature{};
    reader.ReadFixed(endAt - Zip64Locator::kSize, signature);
    locator = bytes::ByteReader(signature).U32() == kZip64LocatorSignature;
  }
  // A directory that reaches the end record owns the bytes in front of it.
  if (locator && !wide && uint64_t{end.directoryOffset} + end.directorySize > endAt - Zip64Locator::kSize) {
    locator = false;
  }
  if (!locator) return wide ? kZipErrorDamaged : kZipOk;
  const int why = ReadZip64End(reader, endAt - Zip64Locator::kSize, end, place);
  // Without a ZIP64 record, 0xFFFF is a count and disk number like any other.
  if (why == kZipOk && place->recordsStart == endAt) {
    place->recordsStart = endAt - Zip64Locator::kSize;
  }
  return why;
}

bool WriteEndRecords(OutputBuffer& output, uint64_t count, uint64_t offset, uint64_t size,
                     uint16_t commentLength) {
  const bool manyMembers = count >= kPlaceholder16;
  const bool wideOffset = offset >= kPlaceholder32, wideSize = size >= kPlaceholder32;
  if (manyMembers || wideOffset || wideSize) {
    Zip64End z;
    z.recordSize = kZip64EndTail;
    z.versionMadeBy = z.versionNeeded = kZip64Version;
    z.recordsOnDisk = z.totalRecords = count;
    z.directorySize = size;
    z.directoryOffset = offset;
    Zip64Locator locator;
    locator.endOffset = offset + size;
    locator.totalDisks = 1;
    const auto record = Encode(z);
    const auto pointer = Encode(locator);
    if (!output.Put(record.data(), record.size()) || !output.Put(pointer.data(), pointer.size())) {
      return false;
    }
  }
  EndRecord end;
  end.recordsOnDisk = end.totalRecords =
      manyMembers ? kPlaceholder16 : static_cast<uint16_t>(count);
  end.directorySize = wideSize ? kPlaceholder32 : static_cast<uint32_t>(size);
  end.directoryOffset = wideOffset ? kPlaceholder32 : static_cast<uint32_t>(offset);
  end.commentLength = commentLength;
  const auto record = Encode(end);
  return output.Put(record.data(), record.size());
}

}  // namespace trvzip
