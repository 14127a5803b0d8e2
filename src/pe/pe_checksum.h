#pragma once
// The image checksum stored in the optional header.

#include <cstdint>
#include <span>

namespace pe {

// One's-complement-style sum of the file's 16-bit words (the checksum field
// itself counted as zero, an odd last byte padded with zero), folded to 16
// bits, plus the file's length.
uint32_t ComputeChecksum(std::span<const uint8_t> file, uint64_t checksumOffset);

}  // namespace pe
