// Loading a package definition and answering its queries.

#include <gtest/gtest.h>

#include "package/member_name.h"
#include "package/tv_pkg.h"
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
  const std::string archive = dir.File("deflated.zip");
  const auto run = testsupport::RunCommand(
      "cd " + testsupport::ShellQuote(dir.Path().string()) + " && zip -q deflated.zip SETUP42.XML",
      true);
  ASSERT_EQ(run.exitCode, 0) << run.output;

  TVPkg package;
  ASSERT_TRUE(package.Load(archive.c_str(), u"setup42.xml", u"en"));
  EXPECT_EQ(package.GetArchivePath(), archive);
  EXPECT_EQ(Shown(package.GetFileName()), "SETUP42.exe");
  EXPECT_EQ(Shown(package.GetName()), "Demo Tools");
  EXPECT_EQ(Shown(package.GetVersion()), "1.2.3.4");
  // No package data: loaded all the same, with no configuration.
  EXPECT_FALSE(package.GetConfigBytes().has_value());
  EXPECT_TRUE(package.GetConfiguration().configFile.empty());
  EXPECT_EQ(package.GetConfiguration().required, 0);
}

TEST(TVPkgLoad, NameFollowsLanguageWithEnglishFallback) {
  struct Case {
    const char* names;
    const char16_t* language;
    const char* expected;
  } cases[] = {
      {"<name_xlate lang=\"en\">English</name_xlate><name_xlate lang=\"de\">Deutsch</name_xlate>",
       u"de", "Deutsch"},
      {"<name_xlate lang=\"en\">English</name_xlate><name_xlate lang=\"de\">Deutsch</name_xlate>",
       u"fr", "English"},
      {"<name_xlate lang=\"de\">Deutsch</name_xlate>", u"en", "(null)"},
      {"<name_xlate lang=\"EN\">Upper</name_xlate>", u"en", "Upper"},
      {"<name_xlate lang=\"en\">First</name_xlate><name_xlate lang=\"en\">Second</name_xlate>",
       u"en", "Second"},
      {"<name_xlate lang=\"en\">\n  Indented\n</name_xlate>", u"en", "(null)"},
      {"<name_xlate lang=\"en\">Tail</name_xlate><name_xlate lang=\"de\"> Leading</name_xlate>",
       u"de", "(null)"},
  };
  testsupport::TempDir dir;
  int i = 0;
  for (const auto& c : cases) {
    const std::string archive =
        MakeArchive(dir, "names" + std::to_string(i++) + ".zip",
                    {{"pkg.xml", Definition("pkg.exe", std::string("<name>") + c.names + "</name>")}});
    TVPkg package;
    ASSERT_TRUE(package.Load(archive.c_str(), u"pkg.xml", c.language)) << c.names;
    EXPECT_EQ(Shown(package.GetName()), c.expected) << c.names;
  }
}

TEST(TVPkgLoad, BlankTextsAndMissingVersionGiveNothing) {
  testsupport::TempDir dir;
  const std::string archive = MakeArchive(
      dir, "blank.zip",
      {{"pkg.xml", "<trv_package>\n<filename>\n    pkg.exe\n</filename>\n"
                   "<version number=\"1.0\"/>\n</trv_package>"}});
  TVPkg package;
  ASSERT_TRUE(package.Load(archive.c_str(), u"pkg.xml", nullptr));
  EXPECT_EQ(package.GetFileName(), nullptr);
  EXPECT_EQ(package.GetVersion(), nullptr);
  EXPECT_EQ(package.GetName(), nullptr);
  EXPECT_EQ(package.GetLanguage(), u"en");
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
  EXPECT_FALSE(package.Load(dir.File("missing.zip").c_str(), u"pkg.xml", u"en"));
  EXPECT_TRUE(package.GetArchivePath().empty());
}

TEST(TVPkgLoad, RefusesDeclaredSizesTheArchiveCannotHold) {
  testsupport::TempDir dir;
  const std::string deflated = MakeArchive(dir, "liar.zip", {{"pkg.xml", StandardDefinition()}},
                                           "--deflate --declare pkg.xml=200000000");
  const std::string huge = MakeArchive(dir, "huge.zip", {{"pkg.xml", StandardDefinition()}},
                                       "--declare pkg.xml=4000000000");
  TVPkg package;
  EXPECT_FALSE(package.Load(deflated.c_str(), u"pkg.xml", u"en"));
  EXPECT_FALSE(package.Load(huge.c_str(), u"pkg.xml", u"en"));
}

TEST(TVPkgLoad, SecondLoadStartsFromAnEmptyObject) {
  testsupport::TempDir dir;
  const std::string first = MakeArchive(
      dir, "first.zip",
      {{"pkg.xml", StandardDefinition()},
       {"tv_data.xml", "<tv_pkg_data><configuration required=\"1\"><config_file>"
                       "<filename>cfg.ini</filename></config_file></configuration></tv_pkg_data>"},
       {"cfg.ini", "x=1"}});
  const std::string second =
      MakeArchive(dir, "second.zip", {{"pkg.xml", Definition("two.exe", "")}});
  TVPkg package;
  ASSERT_TRUE(package.Load(first.c_str(), u"pkg.xml", u"de"));
  EXPECT_EQ(Shown(package.GetName()), "Beispielwerkzeuge");
  ASSERT_TRUE(package.GetConfigBytes().has_value());
  ASSERT_TRUE(package.Load(second.c_str(), u"pkg.xml", nullptr));
  EXPECT_EQ(package.GetArchivePath(), second);
  EXPECT_EQ(Shown(package.GetFileName()), "two.exe");
  EXPECT_EQ(package.GetName(), nullptr);
  EXPECT_EQ(package.GetLanguage(), u"en");  // the reset restored it
  EXPECT_FALSE(package.GetConfigBytes().has_value());
  EXPECT_EQ(package.GetConfiguration().required, 0);
  EXPECT_TRUE(package.Reset());
  EXPECT_EQ(package.GetFileName(), nullptr);
  EXPECT_TRUE(package.GetArchivePath().empty());
}

TEST(TVPkgHasPayload, OnlyForAFileCarryingItsOwnDefinition) {
  testsupport::TempDir dir;
  const std::string prefix(4096 + 17, '\x4d');
  const std::string own = MakeArchive(dir, "own.zip", {{"TOOL.XML", StandardDefinition()}});
  const std::string other = MakeArchive(dir, "other.zip", {{"setup42.xml", StandardDefinition()}});
  const std::string carrying = packagetest::MakeExecutable(dir, "tool.exe", own, prefix);
  const std::string foreign = packagetest::MakeExecutable(dir, "stub.exe", other, prefix);
  testsupport::WriteFile(dir.File("plain.exe"), prefix);

  TVPkg package;
  EXPECT_FALSE(package.HasPayload(dir.File("plain.exe").c_str(), u"en"));
  EXPECT_FALSE(package.HasPayload(foreign.c_str(), u"en"));
  EXPECT_FALSE(package.HasPayload(nullptr, u"en"));
  ASSERT_TRUE(package.HasPayload(carrying.c_str(), u"en"));
  EXPECT_EQ(package.GetArchivePath(), carrying);
  EXPECT_EQ(Shown(package.GetVersion()), "1.2.3.4");
}

TEST(DefinitionMemberNameTest, TakesTheFileNameComponent) {
  EXPECT_EQ(DefinitionMemberName("D:\\out\\SETUP42.exe"), u"SETUP42.xml");
  EXPECT_EQ(DefinitionMemberName("/tmp/build.dir/setup.v2.exe"), u"setup.v2.xml");
  EXPECT_EQ(DefinitionMemberName("plain"), u"plain.xml");
  EXPECT_EQ(DefinitionMemberName("out/Pak\xC3\xABt.exe"), u"Pak\u00EBt.xml");
}

}  // namespace
