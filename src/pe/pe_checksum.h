#pragma once
// The image checksum stored in the optional header: the file's 16-bit
// little-endian words summed with end-around carry (the checksum field
// counted as zero, an odd last byte padded with zero), folded to 16 bits,
// plus the file's length. It is summed piece by piece, so a file can be
// checked while it is being written.

#include <cstdint>
#include <span>

namespace pe {

class PeChecksum {
 public:
  // checksumOffset: where the 4-byte field lies in the whole file.
  explicit PeChecksum(uint64_t checksumOffset) : field_(checksumOffset) {}

  // Adds the next bytes of the file, continuing where the last call ended.
  void Add(std::span<const uint8_t> bytes);
  // The checksum of everything added so far.
  uint32_t Value() const;
  uint64_t Length() const { return length_; }

 private:
  void AddPlain(std::span<const uint8_t> bytes);

  uint64_t field_;
  uint64_t length_ = 0;
  // Congruent modulo 0xFFFF to the sum of the 16-bit words so far, and zero
  // only while they all are: all the fold at the end needs.
  uint64_t sum_ = 0;
};

// The checksum of a whole file held in memory.
uint32_t ComputeChecksum(std::span<const uint8_t> file, uint64_t checksumOffset);

}  // namespace pe
