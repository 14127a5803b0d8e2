#include "verinfo/version_block.h"
#include "verinfo/version_numbers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace {

// Expected bytes are spelled out field by field, independent of the writer.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& U16(uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
    return *this;
  }
  Bytes& Text(std::u16string_view t) {
    for (char16_t c : t) U16(c);
    return U16(0);
  }
  Bytes& Zero(std::size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
};

std::size_t Le16(const std::vector<uint8_t>& b, std::size_t at) { return std::size_t(b[at] | b[at + 1] << 8); }

std::array<uint8_t, kFixedRecordSize> SampleRecord() {
  std::array<uint8_t, kFixedRecordSize> record;
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(0xA0 + i);
  return record;
}

TEST(VersionBlock, MatchesHandComputedBytes) {
  VersionStringMap map;
  map.try_emplace(u"PrivateBuild", u"");
  map.try_emplace(u"CompanyName", u"AB");
  auto record = SampleRecord();
  auto block = BuildVersionInfoBlock(record, map);
  ASSERT_TRUE(block);

  Bytes e;
  e.U16(292).U16(52).U16(0).Text(u"VS_VERSION_INFO").Zero(2);
  e.b.insert(e.b.end(), record.begin(), record.end());
  e.U16(132).U16(0).U16(1).Text(u"StringFileInfo");
  e.U16(96).U16(0).U16(1).Text(u"040904b0");
  ASSERT_EQ(e.b.size(), 152u);
  // "CompanyName": odd key gets 2 bytes before the value at s+32, and the
  // String's 38 bytes are followed by 2 bytes of padding.
  e.U16(38).U16(3).U16(1).Text(u"CompanyName").Zero(2).Text(u"AB").Zero(2);
  ASSERT_EQ(e.b.size(), 152u + 40);
  // "PrivateBuild" with an empty value: no value bytes, not even a NUL.
  e.U16(32).U16(0).U16(1).Text(u"PrivateBuild");
  ASSERT_EQ(e.b.size(), 224u);
  e.U16(68).U16(0).U16(1).Text(u"VarFileInfo").Zero(2);
  e.U16(36).U16(4).U16(0).Text(u"Translation").Zero(2);
  e.b.insert(e.b.end(), {0x09, 0x04, 0xB0, 0x04});
  EXPECT_EQ(*block, e.b);
}

// Walks the block as a reader would and checks every length and boundary.
TEST(VersionBlock, LaysOutEveryStringOnFourByteBoundaries) {
  VersionStringMap map;
  const std::u16string keys[] = {u"Comments", u"CompanyName", u"FileDescription", u"FileVersion",
                                 u"InternalName", u"LegalCopyright", u"LegalTrademarks",
                                 u"OriginalFileName", u"PrivateBuild", u"ProductName",
                                 u"ProductVersion", u"X"};
  std::size_t valueLength = 0;
  for (const auto& key : keys) map.try_emplace(key, std::u16string(valueLength++, u'v'));
  auto record = SampleRecord();
  auto block = BuildVersionInfoBlock(record, map);
  ASSERT_TRUE(block);
  const auto& b = *block;

  std::size_t s = 152;
  std::size_t stringsTotal = 0;
  auto it = map.begin();
  for (; s < 128 + Le16(b, 128); ++it) {
    ASSERT_NE(it, map.end());
    ASSERT_EQ(s % 4, 0u) << "String at " << s;
    std::size_t k = it->first.size(), v = it->second.size(), p = k % 2 ? 2 : 0;
    std::size_t length = 6 + 2 * (k + 1) + p + (v ? 2 * (v + 1) : 0);
    EXPECT_EQ(Le16(b, s), length);
    EXPECT_EQ(Le16(b, s + 2), v ? v + 1 : 0);
    EXPECT_EQ(Le16(b, s + 4), 1u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(&b[s + 6]), k), it->first);
    if (v) {
      EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(&b[s + 8 + 2 * k + p]), v), it->second);
    }
    std::size_t step = length + (length % 4 ? 2 : 0);
    stringsTotal += step;
    s += step;
  }
  EXPECT_EQ(it, map.end());
  std::size_t r = 92 + Le16(b, 92);
  EXPECT_EQ(r, s);
  EXPECT_EQ(r % 4, 0u);
  EXPECT_EQ(Le16(b, r), 68u);
  EXPECT_EQ(Le16(b, 0), b.size());
  EXPECT_EQ(b.size(), 220 + stringsTotal);
  EXPECT_TRUE(std::equal(record.begin(), record.end(), b.begin() + 40));
}

TEST(VersionBlock, RefusesLengthsBeyondSixteenBits) {
  auto record = SampleRecord();
  // One String "K" of 12 + 2(v+1) bytes: v = 32649 makes the block exactly
  // 65532 bytes, far beyond a fixed 8 KiB buffer; two more characters overflow.
  VersionStringMap largest;
  largest.try_emplace(u"K", std::u16string(32649, u'x'));
  auto block = BuildVersionInfoBlock(record, largest);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size(), 65532u);
  EXPECT_EQ(Le16(*block, 0), 65532u);

  VersionStringMap tooLarge;
  tooLarge.try_emplace(u"K", std::u16string(32651, u'x'));
  EXPECT_FALSE(BuildVersionInfoBlock(record, tooLarge));

  VersionStringMap oneHuge;
  oneHuge.try_emplace(u"K", std::u16string(70000, u'x'));
  EXPECT_FALSE(BuildVersionInfoBlock(record, oneHuge));

  // Each String fits on its own; together they do not.
  VersionStringMap many;
  for (char16_t c = u'a'; c < u'e'; ++c) many.try_emplace(std::u16string(1, c), std::u16string(10000, c));
  EXPECT_FALSE(BuildVersionInfoBlock(record, many));
}

TEST(VersionNumbers, SplitsAndConvertsLikeTheRuntime) {
  struct Row {
    const char16_t* text;
    uint32_t most, least;
  };
  const Row rows[] = {
      {u"2.10.0.37", 0x0002000A, 0x00000025},
      {u"1.5", 0x00010005, 0},
      {u"3,1-2", 0x00030001, 0x00020000},
      {u"1.2.3.4.5", 0x00010002, 0x00030004},
      {u"..7", 0x00070000, 0},
      {u"rel2.1", 0x00000001, 0},
      {u"5", 0x00050000, 0},
      {u"", 0, 0},
      {nullptr, 0, 0},
      {u"1.00.0.12", 0x00010000, 0x0000000C},
      {u"70000.1", 0x11700001, 0},            // low 16 bits of 70000 = 4464
      {u"99999999999.2", 0xFFFF0002, 0},      // held at INT_MAX, then cut
      {u" 4.\t+6.7b.8", 0x00040006, 0x00070008},
      {u"1..,-2", 0x00010002, 0},
      {u"+-3.4", 0x00000003, 0x00040000},            // '-' separates: fields "+" and "3"
  };
  for (const Row& row : rows) {
    uint32_t most = 0xDEADBEEF, least = 0xDEADBEEF;
    ParseVersionNumbers(row.text, &most, &least);
    std::string label = row.text ? std::string(row.text, row.text + std::char_traits<char16_t>::length(row.text)) : "(null)";
    EXPECT_EQ(most, row.most) << label;
    EXPECT_EQ(least, row.least) << label;
  }
}

}  // namespace
