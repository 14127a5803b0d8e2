#include "pe/pe_checksum.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pe {

namespace {

// Ones'-complement addition: a sum of words with end-around carry can be
// folded to 16 bits at the end and gives the sum of the 16-bit words.
uint64_t AddWithCarry(uint64_t sum, uint64_t value) {
  sum += value;
  return sum + (sum < value ? 1 : 0);
}

uint32_t LittleEndian32(const uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
  }
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The sum of whole 8-byte words, congruent to theirs modulo 0xFFFF and zero
// only when they are: each word's 32-bit halves are added without carry into
// two totals (2^32 is 1 modulo 0xFFFF), which keeps the loop free of the
// carry chain so the compiler can vectorise it. At most 2^28 words a call,
// so neither total can overflow.
uint64_t SumWords(const uint8_t* bytes, std::size_t words) {
  uint64_t low = 0;
  uint64_t high = 0;
  for (std::size_t i = 0; i < words; ++i) {
    low += LittleEndian32(bytes + 8 * i);
    high += LittleEndian32(bytes + 8 * i + 4);
  }
  return low + high;
}

constexpr std::size_t kWordsPerSum = std::size_t{1} << 28;

}  // namespace

// Bytes are placed by their offset in the file: a byte at offset o lands in
// byte o % 8 of a little-endian 64-bit word. Only the folded 16-bit sum is
// ever used, so whole words may be summed in any way that keeps it.
void PeChecksum::AddPlain(std::span<const uint8_t> bytes) {
  std::size_t i = 0;
  while (i < bytes.size() && length_ % 8 != 0) {
    sum_ = AddWithCarry(sum_, uint64_t{bytes[i++]} << (8 * (length_++ % 8)));
  }
  while (bytes.size() - i >= 8) {
    const std::size_t words = std::min((bytes.size() - i) / 8, kWordsPerSum);
    sum_ = AddWithCarry(sum_, SumWords(bytes.data() + i, words));
    i += 8 * words;
    length_ += 8 * words;
  }
  for (; i < bytes.size(); ++i) {
    sum_ = AddWithCarry(sum_, uint64_t{bytes[i]} << (8 * (length_++ % 8)));
  }
}

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
    length_ += inField;  // zeros add nothing to the sum
    bytes = bytes.subspan(inField);
  }
}

void PeChecksum::Absorb(const PeChecksum& piece) { sum_ = AddWithCarry(sum_, piece.sum_); }

uint32_t PeChecksum::ValueOfFile(uint64_t fileLength) const {
  uint64_t sum = sum_;
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);  // fold, carries included
  return static_cast<uint32_t>(sum + fileLength);
}

uint32_t PeChecksum::Value() const { return ValueOfFile(length_); }

uint32_t ComputeChecksum(std::span<const uint8_t> file, uint64_t checksumOffset) {
  PeChecksum checksum(checksumOffset);
  checksum.Add(file);
  return checksum.Value();
}

}  // namespace pe
