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
  // A piece of the file that starts at offset start, to be summed on its own
  // (on another thread, say) and absorbed into the sum of the whole.
  PeChecksum(uint64_t checksumOffset, uint64_t start)
      : field_(checksumOffset), start_(start), length_(start) {}

  // Adds the next bytes of the file, continuing where the last call ended.
  void Add(std::span<const uint8_t> bytes);
  // The checksum of everything added so far.
  uint32_t Value() const;
  // Where the piece starts, and where it ends (the offset behind what was added).
  uint64_t Start() const { return start_; }
  uint64_t Length() const { return length_; }
  // Adds a piece summed on its own wherever it lies in the file: the words
  // add alike in any order, so that pieces may be gathered as they come. The
  // caller sees that no two overlap; Start() and Length() stay as they were.
  void Absorb(const PeChecksum& piece);
  // The checksum of a file of fileLength bytes, all of them added.
  uint32_t ValueOfFile(uint64_t fileLength) const;

 private:
  void AddPlain(std::span<const uint8_t> bytes);

  uint64_t field_;
  uint64_t start_ = 0;
  uint64_t length_ = 0;
  // Congruent modulo 0xFFFF to the sum of the 16-bit words so far, and zero
  // only while they all are: all the fold at the end needs.
  uint64_t sum_ = 0;
};

// The checksum of a whole file held in memory.
uint32_t ComputeChecksum(std::span<const uint8_t> file, uint64_t checksumOffset);

}  // namespace pe
