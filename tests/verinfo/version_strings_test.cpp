#include "verinfo/version_strings.h"

#include <gtest/gtest.h>

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "pe/resource_update.h"
#include "pe_test_util.h"
#include "pefile_dump.h"
#include "platform/text.h"
#include "test_support.h"
#include "verinfo/version_block.h"

namespace {

using testsupport::StubPath;

std::map<std::string, std::string> Utf8(const VersionStringMap& map) {
  std::map<std::string, std::string> out;
  for (const auto& [key, value] : map) out[platform::Narrow(key)] = platform::Narrow(value);
  return out;
}

// The strings pefile finds in the stub's table `table` (letter case
// ignored), under the keys we store them by (the ten we read,
// "OriginalFilename" as "OriginalFileName").
std::map<std::string, std::string> ExpectedFromPefile(const PefileDump& dump,
                                                      const std::string& table) {
  static const char* const keys[] = {"ProductName",     "ProductVersion", "FileDescription",
                                     "FileVersion",     "CompanyName",    "OriginalFileName",
                                     "InternalName",    "LegalCopyright", "LegalTrademarks",
                                     "Comments"};
  std::map<std::string, std::string> out;
  for (const auto& s : dump.strings) {
    if (strcasecmp(s.table.c_str(), table.c_str()) != 0) continue;
    for (const char* key : keys)
      if (strcasecmp(key, s.key.c_str()) == 0) out.emplace(key, s.value);
  }
  return out;
}

TEST(ReadVersionStrings, AgreesWithPefileOnEveryStub) {
  struct Row {
    const char* stub;
    std::size_t count;
    const char* table;  // where the strings come from
  };
  // full: all ten; partial: FileVersion and ProductName only; emptyvalue: an
  // empty LegalTrademarks among others. Without a 040904b0 table (in any
  // letter case) the translation's table counts, then the first table;
  // decoy tables stand before or after the stub's.
  for (const Row& row : {Row{"stub64_full", 10, "040904b0"}, Row{"stub32_full", 10, "040904b0"},
                         Row{"stub64_partial", 2, "040904b0"}, Row{"stub64_german", 5, "040704b0"},
                         Row{"stub64_emptyvalue", 5, "040904b0"},
                         Row{"stub64_neutral", 3, "040904b0"}, Row{"stub64_rich", 10, "040904b0"},
                         Row{"stub64_twolang", 10, "040904b0"}, Row{"stub64_dotnet", 5, "000004b0"},
                         Row{"stub64_delphi", 5, "040904e4"}, Row{"stub64_upper", 5, "040904b0"},
                         Row{"stub64_translation", 5, "041104b0"},
                         Row{"stub64_firsttable", 5, "041104b0"}}) {
    SCOPED_TRACE(row.stub);
    auto dump = ReadWithPefile(StubPath(row.stub));
    ASSERT_FALSE(dump.fixedRecords.empty());
    std::array<uint8_t, kFixedRecordSize> record;
    VersionStringMap map;
    auto image = petest::OpenImage(StubPath(row.stub));
    ASSERT_TRUE(image);
    ASSERT_TRUE(ReadVersionStrings(*image, record, map));
    // With several languages our layer prefers neutral, then 1033.
    int language = dump.FixedRecordHex(0).empty() ? 1033 : 0;
    if (dump.FixedRecordHex(language).empty()) language = dump.fixedRecords.front().first;
    EXPECT_EQ(ToHex(record.data(), record.size()), dump.FixedRecordHex(language));
    EXPECT_EQ(map.size(), row.count);
    EXPECT_EQ(Utf8(map), ExpectedFromPefile(dump, row.table));
  }
}

TEST(ReadVersionStrings, WithoutVersionInformationFailsAndLeavesRecord) {
  platform::FileHandle none;
  for (auto bytes : {testsupport::ReadFile(StubPath("stub64_noversion")), std::vector<uint8_t>(),
                     std::vector<uint8_t>(4096, 'M')}) {
    std::array<uint8_t, kFixedRecordSize> record;
    record.fill(0xCC);
    VersionStringMap map;
    EXPECT_FALSE(ReadVersionStrings(pe::ImageFile(none, bytes), record, map)) << bytes.size();
    EXPECT_TRUE(map.empty());
    for (uint8_t b : record) ASSERT_EQ(b, 0xCC);
  }
}

TEST(ReadVersionStrings, KeepsValuesAlreadyInTheMap) {
  std::array<uint8_t, kFixedRecordSize> record;
  VersionStringMap map;
  map.try_emplace(u"InternalName", u"mine");
  auto image = petest::OpenImage(StubPath("stub64_full"));
  ASSERT_TRUE(image);
  ASSERT_TRUE(ReadVersionStrings(*image, record, map));
  EXPECT_EQ(map.at(u"InternalName"), u"mine");
  EXPECT_EQ(map.at(u"FileVersion"), u"1.2.0.5");
}

// A composed block written into an image reads back whole. A String's text
// runs to its NUL, whatever value length it declares.
TEST(ReadVersionStrings, ReadsBackAComposedBlock) {
  std::array<uint8_t, kFixedRecordSize> record;
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(i * 7);
  VersionStringMap map;
  map.try_emplace(u"InternalName", u"abc");
  map.try_emplace(u"OriginalFileName", u"a.exe");
  map.try_emplace(u"PrivateBuild", u"");
  map.try_emplace(u"ProductName", u"P\u00E9 Package");
  auto block = BuildVersionInfoBlock(record, map);
  ASSERT_TRUE(block);
  const std::u16string key = u"InternalName";
  auto at = std::search(block->begin(), block->end(), reinterpret_cast<const uint8_t*>(key.data()),
                        reinterpret_cast<const uint8_t*>(key.data() + key.size()));
  ASSERT_NE(at, block->end());
  at[-4] = 1;  // wValueLength of "abc" (4 with its NUL) made 1

  testsupport::TempDir dir;
  const std::string path = dir.File("image.exe");
  std::filesystem::copy_file(StubPath("stub64_full"), path);
  {
    auto image = petest::OpenImage(path, true);
    ASSERT_TRUE(image);
    pe::ResourceUpdate update;
    ASSERT_TRUE(update.Begin(*image, false));
    ASSERT_TRUE(update.Update(pe::ResourceName::Id(16), pe::ResourceName::Id(1), 1033, *block));
    ASSERT_TRUE(update.End(false));
  }

  std::array<uint8_t, kFixedRecordSize> readRecord;
  VersionStringMap read;
  auto image = petest::OpenImage(path);
  ASSERT_TRUE(image);
  ASSERT_TRUE(ReadVersionStrings(*image, readRecord, read));
  EXPECT_EQ(readRecord, record);
  EXPECT_EQ(Utf8(read), (std::map<std::string, std::string>{{"InternalName", "abc"},
                                                            {"OriginalFileName", "a.exe"},
                                                            {"ProductName", "P\u00E9 Package"}}));
}

}  // namespace
