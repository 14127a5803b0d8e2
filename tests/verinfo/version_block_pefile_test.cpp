// Our composed block linked into an image by the MinGW-w64 resource compiler
// and read back by python3-pefile: independent of our own PE layer.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "pefile_dump.h"
#include "test_support.h"
#include "verinfo/version_block.h"
#include "verinfo/version_update.h"

namespace {

using testsupport::ShellQuote;

TEST(BuildVersionInfoBlock, PefileReadsItFromALinkedImage) {
  if (!testsupport::HaveProgram("x86_64-w64-mingw32-windres"))
    GTEST_SKIP() << "MinGW-w64 tools not installed";
  uint8_t record[kFixedRecordSize] = {0xBD, 0x04, 0xEF, 0xFE, 0x00, 0x00, 0x01, 0x00};
  record[36] = 4;  // FileOS
  VersionStringMap map;
  map.InsertIfAbsent(u"InternalName", u"stubprog");
  map.InsertIfAbsent(u"CompanyName", u"AB");
  ComposeVersionStrings(map, u"Sound Driver", u"1.00.0.12", u"");
  uint32_t most = 0, least = 0;
  ParseVersionNumbers(u"1.00.0.12", &most, &least);
  StoreVersionNumbers(record, most, least);
  auto block = BuildVersionInfoBlock(record, map);
  ASSERT_TRUE(block);

  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("block.bin"), *block);
  testsupport::WriteFile(dir.File("version.rc"), std::string("1 16 \"block.bin\"\n"));
  std::string stubSource = testsupport::SourceDir() + "/tests/fixtures/stubs/stub.c";
  auto built = testsupport::RunCommand(
      "cd " + ShellQuote(dir.Path().string()) +
          " && x86_64-w64-mingw32-windres version.rc -O coff -o version.o"
          " && x86_64-w64-mingw32-gcc -s -o image.exe " + ShellQuote(stubSource) + " version.o",
      true);
  ASSERT_EQ(built.exitCode, 0) << built.output;

  auto dump = ReadWithPefile(dir.File("image.exe"));
  EXPECT_TRUE(dump.warnings.empty()) << dump.warnings.front();
  ASSERT_NE(dump.Find("16", "1", 1033), nullptr);
  EXPECT_EQ(dump.Find("16", "1", 1033)->dataHex, ToHex(block->data(), block->size()));
  EXPECT_EQ(dump.FixedRecordHex(1033), ToHex(record, sizeof record));
  EXPECT_EQ(dump.Strings(1033),
            (std::vector<std::pair<std::string, std::string>>{
                {"Comments", "Created using stubprog version "},
                {"CompanyName", "AB"},
                {"FileDescription", "Sound Driver Package"},
                {"FileVersion", "1.00.0.12"},
                {"InternalName", "stubprog"},
                {"PrivateBuild", ""},
                {"ProductName", "Sound Driver Package"},
                {"ProductVersion", "1.00.0.12"}}));
}

}  // namespace
