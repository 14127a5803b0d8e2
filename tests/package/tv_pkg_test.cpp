// Loading a package definition and answering its queries.

#include "package/tv_pkg.h"

#include <gtest/gtest.h>

#include "package/member_bytes.h"
#include "package/member_name.h"
#include "package_archive.h"
#include "platform/text.h"

namespace {

using packagetest::Definition;
using packagetest::MakeArchive;
using packagetest::StandardDefinition;

std::string Shown(const char16_t* text) { return text ? platform::Narrow(text) : "(null)"; }

TEST(TVPkgLoad, FindsDefinitionUnderAnyLetterCaseAndAnswersQueries) {
  if (!testsupport::HaveProgram("zip")) GTEST_SKIP() << "Info-ZIP zip not installed";
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("SETUP42.XML"), StandardDefinition());
  const auto run = testsupport::RunCommand(
      "cd " + testsupport::ShellQuote(dir.Path().string()) + " && zip -q a.zip SETUP42.XML", true);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  TVPkg package;
  ASSERT_TRUE(package.Load(dir.File("a.zip").c_str(), u"setup42.xml", u"en"));
  EXPECT_EQ(package.GetArchivePath(), dir.File("a.zip"));
  EXPECT_EQ(Shown(package.GetFileName()), "SETUP42.exe");
  EXPECT_EQ(Shown(package.GetName()), "Demo Tools");
  EXPECT_EQ(Shown(package.GetVersion()), "1.2.3.4");
  // No package data: loaded all the same, without configuration.
  EXPECT_FALSE(package.GetConfigBytes().has_value());
  EXPECT_TRUE(package.GetConfiguration().configFile.empty());
}

TEST(TVPkgLoad, NameFollowsLanguageWithEnglishFallback) {
  const std::string both =
      "<name_xlate lang=\"en\">English</name_xlate><name_xlate lang=\"de\">Deutsch</name_xlate>";
  const struct {
    std::string names;
    const char16_t* language;
    const char* expected;
  } cases[] = {
      {both, u"de", "Deutsch"},
      {both, u"fr", "English"},
      {"<name_xlate lang=\"de\">Deutsch</name_xlate>", u"en", "(null)"},
      {"<name_xlate lang=\"EN\">Upper</name_xlate>", u"en", "Upper"},
      {"<name_xlate lang=\"en\">First</name_xlate><name_xlate lang=\"en\">Second</name_xlate>",
       u"en", "Second"},
      {"<name_xlate lang=\"en\">\n  Indented\n</name_xlate>", u"en", "(null)"},
      // The language's element is found, so its missing text is not replaced by English.
      {"<name_xlate lang=\"en\">En</name_xlate><name_xlate lang=\"de\"> De</name_xlate>", u"de",
       "(null)"},
  };
  testsupport::TempDir dir;
  for (const auto& c : cases) {
    const std::string archive = MakeArchive(
        dir, "names.zip", {{"pkg.xml", Definition("pkg.exe", "<name>" + c.names + "</name>")}});
    TVPkg package;
    ASSERT_TRUE(package.Load(archive.c_str(), u"pkg.xml", c.language)) << c.names;
    EXPECT_EQ(Shown(package.GetName()), c.expected) << c.names;
  }
}

TEST(TVPkgLoad, BlankTextAndMissingVersionGiveNothing) {
  testsupport::TempDir dir;
  const std::string archive = MakeArchive(
      dir, "blank.zip",
      {{"pkg.xml",
        "<trv_package><filename>\n  pkg.exe\n</filename><version v=\"1\"/></trv_package>"}});
  TVPkg package;
  ASSERT_TRUE(package.Load(archive.c_str(), u"pkg.xml", nullptr));
  EXPECT_EQ(package.GetFileName(), nullptr);
  EXPECT_EQ(package.GetVersion(), nullptr);
  EXPECT_EQ(package.GetName(), nullptr);
}

TEST(TVPkgLoad, FailsWithoutUsableDefinition) {
  testsupport::TempDir dir;
  const std::string good = MakeArchive(dir, "good.zip", {{"pkg.xml", StandardDefinition()}});
  const std::string empty = MakeArchive(dir, "empty.zip", {{"pkg.xml", ""}});
  const std::string broken = MakeArchive(dir, "broken.zip", {{"pkg.xml", "<trv_package>"}});
  testsupport::WriteFile(dir.File("plain.txt"), std::string("not an archive"));
  TVPkg package;
  EXPECT_FALSE(package.Load(nullptr, u"pkg.xml", u"en"));
  EXPECT_FALSE(package.Load(good.c_str(), nullptr, u"en"));
  EXPECT_FALSE(package.Load(good.c_str(), u"other.xml", u"en"));
  EXPECT_FALSE(package.Load(empty.c_str(), u"pkg.xml", u"en"));
  EXPECT_FALSE(package.Load(broken.c_str(), u"pkg.xml", u"en"));
  EXPECT_FALSE(package.Load(dir.File("plain.txt").c_str(), u"pkg.xml", u"en"));
  EXPECT_TRUE(package.GetArchivePath().empty());
}

// A definition stored with any method but stored and Deflate is refused with
// a line that names the method: those of the method table by their names,
// others as unknown.
TEST(TVPkgLoad, MethodsThatCannotBeExtractedAreNamed) {
  const struct {
    uint16_t method;
    const char* name;  // null: loads
  } rows[] = {
      {0, nullptr},       {8, nullptr},        {1, "Shrink"},   {2, "Reduce"},
      {3, "Reduce"},      {4, "Reduce"},       {5, "Reduce"},   {6, "Implode"},
      {9, "Deflate64"},   {10, "PKWARE DCL Implode"},           {12, "BZip2"},
      {14, "LZMA"},       {18, "IBM TERSE"},   {19, "IBM LZ77"}, {93, "Zstandard"},
      {95, "XZ"},         {96, "JPEG"},        {98, "PPMd"},    {99, "AES"},
      {7, "unknown"},     {0xFFFF, "unknown"},
  };
  testsupport::TempDir dir;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.method);
    const std::string archive = MakeArchive(dir, std::to_string(r.method) + ".zip",
                                            {{"pkg.xml", StandardDefinition()}}, r.method);
    TVPkg package;
    EXPECT_EQ(package.Load(archive.c_str(), u"pkg.xml", u"en"), r.name == nullptr);
    EXPECT_EQ(package.GetFailureCause(),
              r.name == nullptr ? ""
                                : "member 'pkg.xml' uses compression method " +
                                      std::to_string(r.method) + " (" + r.name +
                                      "); only stored and Deflate members can be read");
  }
}

TEST(TVPkgLoad, SecondLoadStartsFromAnEmptyObject) {
  testsupport::TempDir dir;
  const std::string first =
      MakeArchive(dir, "first.zip",
                  {{"pkg.xml", StandardDefinition()},
                   {"tv_data.xml",
                    "<tv_pkg_data><configuration required=\"1\"><config_file><filename>"
                    "c.ini</filename></config_file></configuration></tv_pkg_data>"},
                   {"c.ini", "x=1"}});
  const std::string second = MakeArchive(dir, "second.zip", {{"pkg.xml", Definition("two", "")}});
  TVPkg package;
  ASSERT_TRUE(package.Load(first.c_str(), u"pkg.xml", u"de"));
  EXPECT_EQ(Shown(package.GetName()), "Beispielwerkzeuge");
  EXPECT_TRUE(package.GetConfigBytes().has_value());
  ASSERT_TRUE(package.Load(second.c_str(), u"pkg.xml", nullptr));
  EXPECT_EQ(package.GetArchivePath(), second);
  EXPECT_EQ(Shown(package.GetFileName()), "two");
  EXPECT_EQ(package.GetLanguage(), u"en");
  EXPECT_FALSE(package.GetConfigBytes().has_value());
  EXPECT_EQ(package.GetConfiguration().required, 0);
}

// Whether a stub carries its own package is tried end to end by the
// whole-program tests; here the member name it looks for.
TEST(DefinitionMemberName, FileNameComponentWithXml) {
  EXPECT_EQ(DefinitionMemberName("D:\\out\\SETUP42.exe"), u"SETUP42.xml");
  EXPECT_EQ(DefinitionMemberName("/tmp/b.dir/Pak\xC3\xABt.v2.exe"), u"Pak\u00EBt.v2.xml");
  EXPECT_EQ(DefinitionMemberName("C:tool"), u"tool.xml");
}

TEST(MemberBytes, DeclaredSizesMustFitTheArchive) {
  const struct {
    uint32_t method, compressed, uncompressed;
    uint64_t archiveSize;
    bool plausible;
  } cases[] = {
      {0, 100, 100, 1000, true},
      {0, 100, 101, 1000, false},
      {0, 2000, 2000, 1000, false},
      {8, 100, 103200, 1000, true},
      {8, 100, 200000, 1000, false},
      {8, 0, 0, 100, true},
      {8, 1 << 20, kMaxMemberSize, 2 << 20, true},
      {8, 1 << 20, kMaxMemberSize + 1, 2 << 20, false},
  };
  for (const auto& c : cases) {
    trvzip::ZIP_FileEntry entry;
    entry.method = c.method;
    entry.compressedSize = c.compressed;
    entry.uncompressedSize = c.uncompressed;
    EXPECT_EQ(IsPlausibleMemberSize(entry, c.archiveSize), c.plausible)
        << c.method << " " << c.compressed << " " << c.uncompressed;
  }
}

}  // namespace
