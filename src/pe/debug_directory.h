#pragma once
// The debug directory: a table of 28-byte entries, each naming debug data by
// address and by file offset. A rebuild that moves file data must move the
// offsets, and only those of real entries.

#include <cstdint>
#include <span>
#include <vector>

#include "pe/pe_image.h"

namespace pe {

inline constexpr int kDirectoryDebug = 6;
inline constexpr uint32_t kDebugEntrySize = 28;
// Far more than any linker writes; a longer table is no debug directory.
inline constexpr uint32_t kMaxDebugEntries = 4096;

struct DebugEntry {
  uint32_t at = 0;  // file offset of the entry
  uint32_t sizeOfData = 0;
  uint32_t addressOfRawData = 0;
  uint32_t pointerToRawData = 0;
  static constexpr uint32_t kAddressField = 20;
  static constexpr uint32_t kPointerField = 24;
};

struct DebugDirectory {
  std::vector<DebugEntry> entries;
  // False when the directory is declared but cannot be read: it lies outside
  // the file-backed bytes or holds more than kMaxDebugEntries entries.
  bool readable = true;
};

// The real entries of the image's debug directory: whole entries inside its
// size, whose data lies inside the image (by address, when it has one) and
// inside the file of fileSize bytes (by offset, when it has one). `held` is
// the file's first bytes, at least the image.
DebugDirectory ReadDebugDirectory(const PeImage& image, std::span<const uint8_t> held,
                                  uint64_t fileSize);

}  // namespace pe
