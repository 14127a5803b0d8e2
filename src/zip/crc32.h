#pragma once
// CRC-32 as ZIP stores it (zlib's crc32: the reflected polynomial 0xEDB88320,
// inverted before and after), folded with carry-less multiplication where the
// processor has it: several times zlib's speed on the large reads of the
// whole check. Elsewhere, and for short runs, it is zlib's crc32_z.

#include <cstddef>
#include <cstdint>

namespace trvzip {

// The CRC-32 of crc's data followed by the n bytes at data; Crc32(0, ...)
// starts a new one.
uint32_t Crc32(uint32_t crc, const uint8_t* data, std::size_t n);

}  // namespace trvzip
