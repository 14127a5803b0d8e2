#include "verinfo/version_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "pefile_dump.h"
#include "test_support.h"
#include "verinfo/version_block.h"

namespace {

using Strings = std::vector<std::pair<std::string, std::string>>;

std::string Stub(const std::string& name) { return std::string(ZG_STUB_DIR) + "/" + name + ".exe"; }

struct Run {
  bool result = false;
  std::string output;
};

Run Update(const std::string& path, const char16_t* name, const char16_t* version,
           const char16_t* pass) {
  testing::internal::CaptureStdout();
  Run run;
  run.result = UpdateVersionResourceWith(path, name, version, pass);
  std::fflush(stdout);
  run.output = testing::internal::GetCapturedStdout();
  return run;
}

// The stub's fixed record with the file and product versions replaced.
std::string ExpectedRecordHex(const std::string& stubRecordHex, uint32_t most, uint32_t least) {
  std::vector<uint8_t> record;
  for (std::size_t i = 0; i + 1 < stubRecordHex.size(); i += 2)
    record.push_back(uint8_t(std::stoi(stubRecordHex.substr(i, 2), nullptr, 16)));
  EXPECT_EQ(record.size(), kFixedRecordSize);
  if (record.size() != kFixedRecordSize) return {};
  StoreVersionNumbers(record.data(), most, least);
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
    std::filesystem::copy_file(Stub(stub), path);
    return path;
  }
  testsupport::TempDir dir_;
};

TEST_F(VersionUpdate, WritesThePackageStringsAfterTheStubs) {
  for (const char* stub : {"stub64_full", "stub32_full", "stub64_rich", "stub64_overlay",
                           "stub64_extrasection", "stub64_signed", "stub64_twolang"}) {
    SCOPED_TRACE(stub);
    std::string path = CopyOf(stub);
    auto before = ReadWithPefile(path);
    auto run = Update(path, u"Sound Driver", u"1.00.0.12", u"pass word");
    EXPECT_TRUE(run.result);
    EXPECT_EQ(run.output, "");
    auto after = ReadWithPefile(path);
    EXPECT_TRUE(after.warnings.empty()) << after.warnings.front();
    EXPECT_EQ(after.Strings(1033),
              (Strings{{"Comments", "Created using stubprog version 1.2.0.5"},
                       {"CompanyName", "Example Tools Ltd."},
                       {"FileDescription", "Sound Driver Package"},
                       {"FileVersion", "1.00.0.12"},
                       {"InternalName", "stubprog"},
                       {"LegalCopyright", "Copyright (C) 2024 Example Tools"},
                       {"LegalTrademarks", "Example is a mark of nobody"},
                       {"OriginalFileName", "stubprog.exe"},
                       {"PrivateBuild", "pass word"},
                       {"ProductName", "Sound Driver Package"},
                       {"ProductVersion", "1.00.0.12"}}));
    EXPECT_EQ(after.FixedRecordHex(1033),
              ExpectedRecordHex(before.FixedRecordHex(1033), 0x00010000, 0x0000000C));
    ExpectOtherResourcesKept(before, after, {1033});
  }
}

TEST_F(VersionUpdate, OtherLanguagesOnlyGiveTheSevenFixedStrings) {
  std::string path = CopyOf("stub64_german");
  auto before = ReadWithPefile(path);
  auto run = Update(path, u"Paket", u"3,1-2", nullptr);
  EXPECT_TRUE(run.result);
  auto after = ReadWithPefile(path);
  EXPECT_EQ(after.Strings(1033), (Strings{{"Comments", "Created using  version "},
                                          {"FileDescription", "Paket Package"},
                                          {"FileVersion", "3,1-2"},
                                          {"InternalName", ""},
                                          {"PrivateBuild", ""},
                                          {"ProductName", "Paket Package"},
                                          {"ProductVersion", "3,1-2"}}));
  EXPECT_EQ(after.FixedRecordHex(1033),
            ExpectedRecordHex(before.FixedRecordHex(1031), 0x00030001, 0x00020000));
  // The stub's German resource stays beside the new one.
  ExpectOtherResourcesKept(before, after, {1033});
  ASSERT_NE(after.Find("16", "1", 1033), nullptr);
  // No pass string: "PrivateBuild" has no value bytes at all.
  auto block = after.Find("16", "1", 1033)->dataHex;
  auto key = ToHex(reinterpret_cast<const unsigned char*>(u"PrivateBuild"), 26);
  auto at = block.find(key);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(block.substr(at - 12, 12), "200000000100");  // wLength 32, wValueLength 0, text
}

TEST_F(VersionUpdate, EmptyStubValueStaysEmpty) {
  std::string path = CopyOf("stub64_emptyvalue");
  EXPECT_TRUE(Update(path, u"E", u"1", u"").result);
  auto strings = ReadWithPefile(path).Strings(1033);
  auto trademarks = std::find_if(strings.begin(), strings.end(),
                                 [](const auto& s) { return s.first == "LegalTrademarks"; });
  ASSERT_NE(trademarks, strings.end());
  EXPECT_EQ(trademarks->second, "");
  EXPECT_EQ(strings.front().second, "Created using emptystub version 1.0.0.1");
}

// A reader prefers the neutral entry, so it must carry the package's block too.
TEST_F(VersionUpdate, NeutralStubResourceIsReplacedAsWell) {
  std::string path = CopyOf("stub64_neutral");
  auto before = ReadWithPefile(path);
  EXPECT_TRUE(Update(path, u"N", u"9.8.7.6", u"").result);
  auto after = ReadWithPefile(path);
  const auto* neutral = after.Find("16", "1", 0);
  const auto* english = after.Find("16", "1", 1033);
  ASSERT_NE(neutral, nullptr);
  ASSERT_NE(english, nullptr);
  EXPECT_EQ(neutral->dataHex, english->dataHex);
  EXPECT_EQ(after.Strings(0).front().second, "Created using neutralstub version 4.5.6.7");
  EXPECT_EQ(after.FixedRecordHex(0),
            ExpectedRecordHex(before.FixedRecordHex(0), 0x00090008, 0x00070006));
  for (const auto& r : after.resources) EXPECT_FALSE(r.type == "16" && r.dataHex == before.Find("16", "1", 0)->dataHex);
  ExpectOtherResourcesKept(before, after, {0, 1033});
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
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  auto run = Update(path, u"P", u"1", u"");
  EXPECT_FALSE(run.result);
  const std::string prefix = "ERROR: UpdateResource(RT_VERSION) failed (0x";
  ASSERT_EQ(run.output.substr(0, prefix.size()), prefix);
  EXPECT_EQ(run.output.size(), prefix.size() + 8 + 3);
  EXPECT_EQ(run.output.substr(prefix.size() + 8), ").\n");
  EXPECT_NE(run.output.substr(prefix.size(), 8), "00000000");
  EXPECT_EQ(testsupport::FileDigest(path), digest);
}

}  // namespace

#include "package/tv_pkg.h"

namespace {

// The package overload reads the name and version of a loaded definition.
TEST_F(VersionUpdate, TakesNameAndVersionFromThePackage) {
  if (!testsupport::HaveProgram("zip")) GTEST_SKIP() << "Info-ZIP zip not installed";
  struct Row {
    std::string definition;
    bool result;
    std::string output;
  };
  const Row rows[] = {
      {"<name><name_xlate lang=\"en\">Sound Driver</name_xlate></name><version value=\"2.10.0.37\"/>",
       true, ""},
      {"<name><name_xlate lang=\"de\">Treiber</name_xlate></name><version value=\"1\"/>", false,
       "\nERROR: the package definition has no name"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.definition);
    testsupport::WriteFile(dir_.File("SETUP42.xml"),
                           "<?xml version=\"1.0\"?><trv_package><filename>SETUP42</filename>" +
                               row.definition + "</trv_package>");
    std::filesystem::remove(dir_.File("data.zip"));
    auto zipped = testsupport::RunCommand(
        "cd " + testsupport::ShellQuote(dir_.Path().string()) + " && zip -q data.zip SETUP42.xml", true);
    ASSERT_EQ(zipped.exitCode, 0) << zipped.output;
    TVPkg package;
    ASSERT_TRUE(package.Load(dir_.File("data.zip").c_str(), u"SETUP42.xml", u"en"));

    std::string path = CopyOf("stub64_full");
    auto digest = testsupport::FileDigest(path);
    testing::internal::CaptureStdout();
    bool result = UpdateVersionResource(path, package, u"");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), row.output);
    EXPECT_EQ(result, row.result);
    if (result) {
      auto after = ReadWithPefile(path);
      EXPECT_EQ(after.Strings(1033)[2], (std::pair<std::string, std::string>("FileDescription", "Sound Driver Package")));
      EXPECT_EQ(after.FixedRecordHex(1033).substr(16, 32), "0a000200250000000a00020025000000");
    } else {
      EXPECT_EQ(testsupport::FileDigest(path), digest);
    }
    std::filesystem::remove(path);
  }
}

}  // namespace
