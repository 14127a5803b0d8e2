#include "pe/debug_directory.h"

#include "bytes/byte_reader.h"

namespace pe {

std::vector<DebugEntry> ReadDebugDirectory(const PeImage& image, std::span<const uint8_t> file) {
  std::vector<DebugEntry> entries;
  const DataDirectory d = image.Directory(kDirectoryDebug);
  const uint32_t count = d.size / kDebugEntrySize;
  if (d.rva == 0 || count == 0) return entries;
  const auto start = image.RvaToOffset(d.rva, count * kDebugEntrySize, file.size());
  if (!start) return entries;
  for (uint32_t i = 0; i < count; ++i) {
    const auto at = static_cast<uint32_t>(*start + uint64_t{i} * kDebugEntrySize);
    bytes::ByteReader in(file, at + DebugEntry::kAddressField);
    const uint32_t address = in.U32();
    entries.push_back({at, address, in.U32()});
  }
  return entries;
}

}  // namespace pe
