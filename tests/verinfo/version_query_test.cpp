// Version queries against pefile's reading of the same stubs, and the
// query's handling of awkward blocks.

#include <gtest/gtest.h>

#include <map>

#include "pe/version_resource.h"
#include "pe_test_util.h"
#include "pefile_dump.h"
#include "platform/text.h"
#include "verinfo/version_block.h"

namespace {

using petest::StubPath;

// The query folds letter case, as the platform's does: stubs spell
// "OriginalFilename", the version code asks for "OriginalFileName".
std::u16string Upper(const std::string& ascii) {
  std::u16string wide;
  for (char c : ascii) wide += static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return wide;
}

const char* const kKeys[] = {"ProductName",      "ProductVersion", "FileDescription",
                             "FileVersion",      "CompanyName",    "OriginalFilename",
                             "InternalName",     "LegalCopyright", "LegalTrademarks",
                             "Comments",         "PrivateBuild"};

class StubVersionQueryTest : public ::testing::TestWithParam<const char*> {};

TEST_P(StubVersionQueryTest, MatchesPefile) {
  const std::string path = StubPath(GetParam());
  const PefileDump expected = ReadWithPefile(path);
  ASSERT_FALSE(expected.fixedRecords.empty());
  // The resource a reader picks: neutral, else U.S. English, else the first.
  int language = expected.fixedRecords.front().first;
  for (const auto& [l, hex] : expected.fixedRecords) {
    if (l == 0 || (l == 1033 && language != 0)) language = l;
  }
  std::map<std::string, std::string> strings;
  for (const PefileString& s : expected.strings) {
    if (s.language == language && s.table == "040904b0") strings[s.key] = s.value;
  }

  uint32_t error = 99;
  std::vector<uint8_t> block;
  ASSERT_TRUE(petest::VersionInfoOf(path, block, &error));
  EXPECT_EQ(error, platform::kErrorSuccess);

  const void* value = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(VerQueryValue(block, u"\\", &value, &length));
  EXPECT_EQ(length, kFixedRecordSize);
  EXPECT_EQ(ToHex(static_cast<const uint8_t*>(value), kFixedRecordSize),
            expected.FixedRecordHex(language));

  for (const char* key : kKeys) {
    const auto found = strings.find(key);
    const std::u16string query = u"\\stringfileinfo\\040904B0\\" + Upper(key);
    const bool ok = VerQueryValue(block, query, &value, &length);
    ASSERT_EQ(ok, found != strings.end()) << key;
    if (!ok) continue;
    const auto* text = static_cast<const char16_t*>(value);
    const std::u16string got(text);
    EXPECT_EQ(platform::Narrow(got), found->second) << key;
    EXPECT_EQ(length, got.empty() && length == 0 ? 0u : got.size() + 1) << key;
  }
}

INSTANTIATE_TEST_SUITE_P(Stubs, StubVersionQueryTest,
                         ::testing::Values("stub64_full", "stub32_full", "stub64_partial",
                                           "stub64_german", "stub64_rich", "stub64_extrasection",
                                           "stub64_overlay", "stub64_twolang", "stub64_signed",
                                           "stub64_neutral", "stub64_emptyvalue"));

TEST(VersionQuery, MalformedBlocksAreRejected) {
  const auto good = petest::MakeVersionBlock(0x10002, {{u"FileVersion", u"1.2"}, {u"A", u"b"}});
  const void* value = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(VerQueryValue(good, u"\\StringFileInfo\\040904b0\\A", &value, &length));
  struct Case {
    const char* what;
    std::size_t offset;  // where a 16-bit field is overwritten
    uint16_t field;
    const char16_t* query;
  };
  const std::size_t table = 92 + 36;  // first String of the table at 152
  const Case cases[] = {
      {"root longer than the block", 0, 0xFFFF, u"\\"},
      {"root shorter than its header", 0, 4, u"\\"},
      {"fixed record too short", 2, 20, u"\\"},
      {"table longer than its parent", table, 0x7000, u"\\StringFileInfo\\040904b0\\A"},
      {"String of length zero", 152, 0, u"\\StringFileInfo\\040904b0\\A"},
      {"value beyond its String", 154, 200, u"\\StringFileInfo\\040904b0\\FileVersion"},
  };
  for (const Case& c : cases) {
    auto bad = good;
    bad[c.offset] = static_cast<uint8_t>(c.field);
    bad[c.offset + 1] = static_cast<uint8_t>(c.field >> 8);
    EXPECT_FALSE(VerQueryValue(bad, c.query, &value, &length)) << c.what;
  }
  // A String whose value length overstates its text does not hide the next one.
  auto overstated = good;
  overstated[154] = 200;
  ASSERT_TRUE(VerQueryValue(overstated, u"\\StringFileInfo\\040904b0\\A", &value, &length));
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value)), u"b");
  // Strings marked as binary are still texts that must end in their String.
  const std::size_t stringA = 152 + 40;  // behind "FileVersion" = "1.2"
  auto binary = good;
  binary[stringA + 4] = 0;
  ASSERT_TRUE(VerQueryValue(binary, u"\\StringFileInfo\\040904b0\\a", &value, &length));
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(value)), u"b");
  // Its value length then counts bytes: reported as characters it must not
  // promise more than the String holds.
  binary[stringA + 2] = 4;
  ASSERT_TRUE(VerQueryValue(binary, u"\\StringFileInfo\\040904b0\\a", &value, &length));
  EXPECT_LE(static_cast<const char16_t*>(value) + length,
            reinterpret_cast<const char16_t*>(binary.data() + stringA + 16));
  // A value without its terminator inside the block is not handed out.
  auto cut = good;
  cut.resize(cut.size() - 68);  // drop VarFileInfo
  cut.resize(cut.size() - 4);   // and "b\0" with its padding
  cut[0] = static_cast<uint8_t>(cut.size());
  cut[1] = static_cast<uint8_t>(cut.size() >> 8);
  EXPECT_FALSE(VerQueryValue(cut, u"\\StringFileInfo\\040904b0\\A", &value, &length));
  EXPECT_FALSE(VerQueryValue({}, u"\\", &value, &length));
}

}  // namespace
