#include "pe/pe_checksum.h"

namespace pe {

uint32_t ComputeChecksum(std::span<const uint8_t> file, uint64_t checksumOffset) {
  uint64_t sum = 0;
  const std::size_t size = file.size();
  for (std::size_t i = 0; i < size; i += 2) {
    if (i >= checksumOffset && i < checksumOffset + 4) continue;
    const uint32_t word = file[i] | (i + 1 < size ? file[i + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}

}  // namespace pe
