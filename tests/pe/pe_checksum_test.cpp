// The image checksum summed piece by piece, as the build does while it writes
// the archive, against a plain sum of 16-bit words.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "pe/pe_checksum.h"

namespace {

// 16-bit little-endian words with end-around carry, the field read as zero,
// an odd last byte padded with zero; folded, plus the length.
uint32_t Reference(const std::vector<uint8_t>& file, uint64_t field) {
  uint64_t sum = 0;
  for (std::size_t i = 0; i < file.size(); i += 2) {
    const auto byte = [&](std::size_t at) -> uint32_t {
      return at < file.size() && (at < field || at >= field + 4) ? file[at] : 0;
    };
    sum += byte(i) | byte(i + 1) << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<uint32_t>(sum + file.size());
}

uint32_t InPieces(const std::vector<uint8_t>& file, uint64_t field, std::size_t piece) {
  pe::PeChecksum checksum(field);
  for (std::size_t at = 0; at < file.size(); at += piece) {
    checksum.Add(std::span<const uint8_t>(file).subspan(at, std::min(piece, file.size() - at)));
  }
  EXPECT_EQ(checksum.Length(), file.size());
  return checksum.Value();
}

// The pieces summed apart and absorbed last to first, as the whole check
// gathers them from its workers.
uint32_t Absorbed(const std::vector<uint8_t>& file, uint64_t field, std::size_t piece) {
  pe::PeChecksum whole(field);
  for (std::size_t end = file.size(); end > 0;) {
    const std::size_t at = end - std::min(piece, end - (end - 1) / piece * piece);
    pe::PeChecksum part(field, at);
    part.Add(std::span<const uint8_t>(file).subspan(at, end - at));
    whole.Absorb(part);
    end = at;
  }
  return whole.ValueOfFile(file.size());
}

TEST(PeChecksum, AnySplitGivesThePlainSum) {
  std::mt19937 random(42);
  for (const std::size_t size : {0u, 1u, 7u, 216u, 221u, 4099u, 300001u}) {
    std::vector<uint8_t> file(size);
    for (auto& b : file) b = static_cast<uint8_t>(random());
    for (const uint64_t field : {uint64_t{0}, uint64_t{5}, uint64_t{216}, uint64_t{1} << 40}) {
      const uint32_t want = Reference(file, field);
      for (const std::size_t piece : {1u, 3u, 8u, 13u, 4096u, 300001u}) {
        EXPECT_EQ(InPieces(file, field, piece), want) << size << " " << field << " " << piece;
        EXPECT_EQ(Absorbed(file, field, piece), want) << size << " " << field << " " << piece;
      }
    }
  }
}

// Sums that wrap many times, and the two ways of writing zero: all-zero bytes
// sum to 0, an even count of 0xFF bytes to 0xFFFF.
TEST(PeChecksum, CarriesAndZeros) {
  for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x80}}) {
    for (const std::size_t size : {8u, 1u << 20, (1u << 20) + 5}) {
      const std::vector<uint8_t> file(size, fill);
      const uint32_t want = Reference(file, 216);
      EXPECT_EQ(InPieces(file, 216, 65536), want);
      EXPECT_EQ(pe::ComputeChecksum(file, 216), want);
      if (fill == 0x00) {
        EXPECT_EQ(want, size);
      } else if (fill == 0xFF && size % 2 == 0) {
        EXPECT_EQ(want, 0xFFFF + size);
      }
    }
  }
}

}  // namespace
