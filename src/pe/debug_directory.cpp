#include "pe/debug_directory.h"

#include "bytes/byte_reader.h"

namespace pe {
namespace {

// An entry counts when it looks like one and what it names exists: slots
// that are no entry (a directory size that runs on over other data) hold
// text or code, seldom a zero reserved field and data where they say.
bool IsRealEntry(const PeImage& image, const DebugEntry& e, uint32_t characteristics,
                 uint64_t fileSize) {
  if (characteristics != 0 || e.sizeOfData == 0) return false;
  if (e.addressOfRawData == 0 && e.pointerToRawData == 0) return false;
  if (e.addressOfRawData != 0 &&
      uint64_t{e.addressOfRawData} + e.sizeOfData > image.sizeOfImage) {
    return false;
  }
  if (e.pointerToRawData != 0 && uint64_t{e.pointerToRawData} + e.sizeOfData > fileSize) {
    return false;
  }
  // Data that the loader maps is found at the same bytes by either field.
  const auto mapped = e.addressOfRawData != 0
                          ? image.RvaToOffset(e.addressOfRawData, e.sizeOfData, fileSize)
                          : std::nullopt;
  return !mapped || e.pointerToRawData == 0 || *mapped == e.pointerToRawData;
}

}  // namespace

DebugDirectory ReadDebugDirectory(const PeImage& image, std::span<const uint8_t> held,
                                  uint64_t fileSize) {
  DebugDirectory directory;
  const DataDirectory d = image.Directory(kDirectoryDebug);
  const uint32_t count = d.size / kDebugEntrySize;
  if (d.rva == 0 || count == 0) return directory;
  const auto start = count <= kMaxDebugEntries
                         ? image.RvaToOffset(d.rva, count * kDebugEntrySize, held.size())
                         : std::nullopt;
  if (!start) {
    directory.readable = false;
    return directory;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const auto at = static_cast<uint32_t>(*start + uint64_t{i} * kDebugEntrySize);
    bytes::ByteReader in(held, at);
    const uint32_t characteristics = in.U32();
    in.Skip(4 + 4 + 4);  // time stamp, version, type
    DebugEntry e{at, in.U32(), 0, 0};
    e.addressOfRawData = in.U32();
    e.pointerToRawData = in.U32();
    if (IsRealEntry(image, e, characteristics, fileSize)) directory.entries.push_back(e);
  }
  return directory;
}

}  // namespace pe
