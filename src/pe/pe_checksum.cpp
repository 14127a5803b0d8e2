#include "pe/pe_checksum.h"

#include <algorithm>
#include <cstring>

namespace pe {

namespace {

// Ones'-complement addition: a sum of words with end-around carry can be
// folded to 16 bits at the end and gives the sum of the 16-bit words.
uint64_t AddWithCarry(uint64_t sum, uint64_t value) {
  sum += value;
  return sum + (sum < value ? 1 : 0);
}

}  // namespace

// Bytes are placed by their offset in the file: a byte at offset o lands in
// byte o % 8 of a little-endian 64-bit word. Whole words are summed in bulk.
void PeChecksum::AddPlain(std::span<const uint8_t> bytes) {
  std::size_t i = 0;
  while (i < bytes.size() && length_ % 8 != 0) {
    sum_ = AddWithCarry(sum_, uint64_t{bytes[i++]} << (8 * (length_++ % 8)));
  }
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word = 0;
    for (int b = 7; b >= 0; --b) word = (word << 8) | bytes[i + static_cast<std::size_t>(b)];
    sum_ = AddWithCarry(sum_, word);
    length_ += 8;
  }
  for (; i < bytes.size(); ++i) {
    sum_ = AddWithCarry(sum_, uint64_t{bytes[i]} << (8 * (length_++ % 8)));
  }
}

void PeChecksum::AddZeros(uint64_t count) { length_ += count; }

void PeChecksum::Add(std::span<const uint8_t> bytes) {
  // The field itself counts as zero, wherever the pieces break.
  while (!bytes.empty()) {
    const uint64_t end = length_ + bytes.size();
    if (length_ >= field_ + 4 || end <= field_) {
      AddPlain(bytes);
      return;
    }
    if (length_ < field_) {
      const auto before = static_cast<std::size_t>(field_ - length_);
      AddPlain(bytes.first(before));
      bytes = bytes.subspan(before);
      continue;
    }
    const auto inField = static_cast<std::size_t>(std::min<uint64_t>(field_ + 4, end) - length_);
    AddZeros(inField);
    bytes = bytes.subspan(inField);
  }
}

uint32_t PeChecksum::Value() const {
  uint64_t sum = sum_;
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);  // fold, carries included
  return static_cast<uint32_t>(sum + length_);
}

uint32_t ComputeChecksum(std::span<const uint8_t> file, uint64_t checksumOffset) {
  PeChecksum checksum(checksumOffset);
  checksum.Add(file);
  return checksum.Value();
}

}  // namespace pe
