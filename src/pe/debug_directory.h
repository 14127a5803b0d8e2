#pragma once
// The debug directory: a table of entries, each naming debug data by address
// and by file offset. A rebuild that moves file data must move the offsets.

#include <cstdint>
#include <span>
#include <vector>

#include "pe/pe_image.h"

namespace pe {

inline constexpr int kDirectoryDebug = 6;
inline constexpr uint32_t kDebugEntrySize = 28;

struct DebugEntry {
  uint32_t at = 0;  // file offset of the entry
  uint32_t addressOfRawData = 0;
  uint32_t pointerToRawData = 0;
  static constexpr uint32_t kAddressField = 20;
  static constexpr uint32_t kPointerField = 24;
};

// The entries of the image's debug directory, as far as the directory lies
// in file (the held bytes of it); none when there is no directory or it
// cannot be found, as the loader, which never needs it, ignores it then.
std::vector<DebugEntry> ReadDebugDirectory(const PeImage& image, std::span<const uint8_t> file);

}  // namespace pe
