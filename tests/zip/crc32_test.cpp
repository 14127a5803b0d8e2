// The folded CRC-32 against zlib's, over the lengths where the fold's parts
// meet (its 64-byte lanes, the 16-byte tail, the bytes left to zlib) and from
// every alignment, started fresh and carried on from an earlier sum.

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "zip/crc32.h"

namespace {

struct Case {
  std::size_t offset;
  std::size_t length;
  uint32_t before;  // the CRC of what came earlier
};

TEST(Crc32, AgreesWithZlib) {
  std::mt19937 random(7);
  std::vector<uint8_t> bytes((std::size_t{1} << 20) + 64);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  const Case cases[] = {
      {0, 0, 0},          {0, 1, 0},          {3, 15, 0x12345678}, {0, 63, 0},
      {0, 64, 0},         {1, 64, 0xFFFFFFFF}, {5, 65, 0},         {0, 79, 0xDEADBEEF},
      {7, 80, 0},         {0, 127, 0},        {9, 128, 0x1},       {15, 129, 0},
      {2, 1000, 0},       {0, 4096, 0x80000000}, {11, (std::size_t{1} << 20) + 13, 0},
      {0, std::size_t{1} << 20, 0xCAFEF00D},
  };
  for (const Case& c : cases) {
    const uint8_t* data = bytes.data() + c.offset;
    EXPECT_EQ(trvzip::Crc32(c.before, data, c.length), crc32_z(c.before, data, c.length))
        << "offset " << c.offset << ", length " << c.length;
  }
  // Pieces of any length carry the sum on.
  uint32_t pieces = 0;
  for (std::size_t at = 0, step = 1; at < 100000; at += step, step = step * 3 % 997 + 1) {
    pieces = trvzip::Crc32(pieces, bytes.data() + at, std::min(step, 100000 - at));
  }
  EXPECT_EQ(pieces, crc32_z(0, bytes.data(), 100000));
}

}  // namespace
