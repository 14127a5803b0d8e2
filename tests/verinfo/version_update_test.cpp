#include "verinfo/version_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "pe_test_util.h"
#include "pefile_dump.h"
#include "test_support.h"
#include "verinfo/version_block.h"
#include "verinfo/version_numbers.h"

namespace {

using Strings = std::vector<std::pair<std::string, std::string>>;

using testsupport::StubPath;

struct Run {
  bool result = false;
  std::string output;
};

// Updates the image file at path, held for writing (or, to make the write
// fail, only for reading).
Run Update(const std::string& path, const char16_t* name, const char16_t* version,
           const char16_t* pass, bool writable = true) {
  auto image = petest::OpenImage(path, writable);
  if (!image) return {};
  // Nothing is printed: the caller prints the failure's line.
  testing::internal::CaptureStdout();
  const auto failure = UpdateVersionResourceWith(*image, name, version, pass);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  return {!failure, failure ? failure->Message(path) : std::string()};
}

// The stub's fixed record with the file and product versions replaced.
std::string ExpectedRecordHex(const std::string& stubRecordHex, uint32_t most, uint32_t least) {
  std::array<uint8_t, kFixedRecordSize> record{};
  EXPECT_EQ(stubRecordHex.size(), 2 * kFixedRecordSize);
  if (stubRecordHex.size() != 2 * kFixedRecordSize) return {};
  for (std::size_t i = 0; i < kFixedRecordSize; ++i)
    record[i] = uint8_t(std::stoi(stubRecordHex.substr(2 * i, 2), nullptr, 16));
  StoreVersionNumbers(record, most, least);
  return ToHex(record.data(), record.size());
}

// Every resource but the listed version entries is as it was.
void ExpectOtherResourcesKept(const PefileDump& before, const PefileDump& after,
                              std::vector<int> replacedLanguages) {
  auto replaced = [&](const PefileResource& r) {
    if (r.type != "16" || r.name != "1") return false;
    return std::find(replacedLanguages.begin(), replacedLanguages.end(), r.language) !=
           replacedLanguages.end();
  };
  auto kept = [&](const PefileDump& dump) {
    std::vector<std::string> out;
    for (const auto& r : dump.resources)
      if (!replaced(r))
        out.push_back(r.type + "/" + r.name + "/" + std::to_string(r.language) + "/" + r.codePage +
                      "/" + r.dataHex);
    return out;
  };
  EXPECT_EQ(kept(before), kept(after));
}

class VersionUpdate : public testing::Test {
 protected:
  std::string CopyOf(const std::string& stub) {
    std::string path = dir_.File(stub + ".exe");
    std::filesystem::copy_file(StubPath(stub), path);
    return path;
  }
  testsupport::TempDir dir_;
};

// The strings themselves are checked by the whole-program tests; here the
// fixed record, and which version entries are replaced and which stay.
TEST_F(VersionUpdate, ReplacesTheVersionEntriesAndKeepsEverythingElse) {
  struct Row {
    const char* stub;
    int recordLanguage;           // of the stub's entry the fixed record comes from
    std::vector<int> replaced;    // languages of RT_VERSION/1 that get the new block
  };
  const Row rows[] = {
      {"stub64_full", 1033, {1033}},       {"stub32_full", 1033, {1033}},
      {"stub64_rich", 1033, {1033}},       {"stub64_overlay", 1033, {1033}},
      {"stub64_extrasection", 1033, {1033}}, {"stub64_signed", 1033, {1033}},
      {"stub64_twolang", 1033, {1033}},    {"stub64_german", 1031, {1033}},
      // A reader prefers the neutral entry, so it must carry the package's block too.
      {"stub64_neutral", 0, {0, 1033}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stub);
    std::string path = CopyOf(row.stub);
    auto before = ReadWithPefile(path);
    auto run = Update(path, u"Sound Driver", u"1.00.0.12", u"pass word");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, "");
    auto after = ReadWithPefile(path);
    EXPECT_TRUE(after.warnings.empty()) << after.warnings.front();
    const auto expected =
        ExpectedRecordHex(before.FixedRecordHex(row.recordLanguage), 0x00010000, 0x0000000C);
    const auto* english = after.Find("16", "1", 1033);
    ASSERT_NE(english, nullptr);
    for (int language : row.replaced) {
      EXPECT_EQ(after.FixedRecordHex(language), expected);
      EXPECT_EQ(after.Find("16", "1", language)->dataHex, english->dataHex);
    }
    ExpectOtherResourcesKept(before, after, row.replaced);
  }
}

TEST_F(VersionUpdate, FailuresPrintTheirLineAndLeaveTheFileAlone) {
  struct Row {
    const char* stub;
    const char16_t* name;
    const char16_t* version;
    std::string output;  // "%s" stands for the path
  };
  const std::u16string hugeName(40000, u'n');
  const Row rows[] = {
      {"stub64_noversion", u"P", u"1", "\nERROR: unable to obtain version information from '%s'"},
      {"stub64_full", nullptr, u"1", "\nERROR: the package definition has no name"},
      {"stub64_full", u"P", nullptr, "\nERROR: the package definition has no version"},
      {"stub64_full", hugeName.c_str(), u"1", "\nERROR: the version information is too large"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.output);
    std::string path = CopyOf(row.stub);
    auto digest = testsupport::FileDigest(path);
    auto run = Update(path, row.name, row.version, u"");
    EXPECT_FALSE(run.result);
    std::string expected = row.output;
    if (auto at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, path);
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(testsupport::FileDigest(path), digest);
    std::filesystem::remove(path);
  }
}

TEST_F(VersionUpdate, FailedWriteIsReportedWithItsCode) {
  std::string path = CopyOf("stub64_full");
  auto digest = testsupport::FileDigest(path);
  auto run = Update(path, u"P", u"1", u"", false);
  EXPECT_FALSE(run.result);
  const std::string prefix = "ERROR: UpdateResource(RT_VERSION) failed (0x";
  ASSERT_EQ(run.output.substr(0, prefix.size()), prefix);
  EXPECT_EQ(run.output.size(), prefix.size() + 8 + 3);
  EXPECT_EQ(run.output.substr(prefix.size() + 8), ").\n");
  EXPECT_NE(run.output.substr(prefix.size(), 8), "00000000");
  EXPECT_EQ(testsupport::FileDigest(path), digest);
}

}  // namespace
