// The package data document and the configuration file it names.

#include <gtest/gtest.h>

#include <cstring>

#include "crypt/des_crypt.h"
#include "package/member_bytes.h"
#include "package/tv_pkg.h"
#include "package_archive.h"
#include "platform/text.h"
#include "zip/zip_file.h"

namespace {

using packagetest::Definition;
using packagetest::MakeArchive;
using packagetest::Member;
using packagetest::StandardDefinition;

const std::string kPlainConfig = "[cfg]\nmode=safe\n";  // two DES blocks

std::string PackageData(const std::string& configuration, const std::string& extra = "") {
  return "<?xml version=\"1.0\"?>\n<tv_pkg_data>\n" + configuration + "\n" + extra +
         "\n</tv_pkg_data>\n";
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    static const char* digits = "0123456789abcdef";
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// kPlainConfig enciphered by openssl under the key made from keyText, as hex.
std::string ProtectedText(const testsupport::TempDir& dir, const std::string& keyText) {
  uint8_t key[8];
  DesCrypt::MakeKey(keyText.c_str(), key);
  testsupport::WriteFile(dir.File("plain.cfg"), kPlainConfig);
  const auto run = testsupport::RunCommand(
      "openssl enc -des-ecb -nopad -provider legacy -provider default -K " +
          Hex(std::vector<uint8_t>(key, key + 8)) + " -in " +
          testsupport::ShellQuote(dir.File("plain.cfg")) + " -out " +
          testsupport::ShellQuote(dir.File("cipher.cfg")),
      true);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  return Hex(testsupport::ReadFile(dir.File("cipher.cfg")));
}

class PackageConfigurationTest : public ::testing::Test {
 protected:
  // Loads an archive holding the standard definition, the package data and extra members.
  bool Load(const std::string& packageData, std::vector<Member> extra = {},
            const char16_t* language = u"en", const std::string& definition = StandardDefinition()) {
    extra.push_back({"SETUP42.xml", definition});
    extra.push_back({"tv_data.xml", packageData});
    archive = MakeArchive(dir, "pkg" + std::to_string(count++) + ".zip", extra);
    return package.Load(archive.c_str(), u"SETUP42.xml", language);
  }
  std::string Name(const std::u16string& text) { return platform::Narrow(text); }

  testsupport::TempDir dir;
  TVPkg package;
  std::string archive;
  int count = 0;
};

TEST_F(PackageConfigurationTest, UserInterfaceFileFollowsLanguage) {
  const std::string data = PackageData(
      "<configuration><configui><filename lang=\"en\">ui_en.xml</filename>"
      "<filename lang=\"JA\">ui_ja.xml</filename></configui>"
      "<config_file><filename>cfg.ini</filename></config_file></configuration>");
  ASSERT_TRUE(Load(data, {}, u"ja"));
  EXPECT_EQ(Name(package.GetConfiguration().configUiFile), "ui_ja.xml");
  ASSERT_TRUE(Load(data, {}, u"fr"));
  EXPECT_EQ(Name(package.GetConfiguration().configUiFile), "ui_en.xml");
  // Neither the language nor English: the record holds the configuration file alone.
  ASSERT_TRUE(Load(PackageData("<configuration><configui><filename lang=\"de\">ui_de.xml</filename>"
                               "</configui><config_file><filename>cfg.ini</filename>"
                               "</config_file></configuration>"),
                   {}, u"fr"));
  EXPECT_TRUE(package.GetConfiguration().configUiFile.empty());
  EXPECT_EQ(Name(package.GetConfiguration().configFile), "cfg.ini");
  // Named but not in the archive: loaded without bytes.
  EXPECT_FALSE(package.GetConfigBytes().has_value());
}

TEST_F(PackageConfigurationTest, FlagsAreSetByExactlyOne) {
  ASSERT_TRUE(Load(PackageData("<configuration required=\"1\"><config_file>"
                               "<filename encrypt=\"0\">c.ini</filename></config_file>"
                               "</configuration>",
                               "<virtualization allow=\"1\"/>")));
  EXPECT_EQ(package.GetConfiguration().required, 1);
  EXPECT_EQ(package.GetConfiguration().allowVirtualization, 1);
  EXPECT_EQ(package.GetConfiguration().encrypt, 0);
  for (const char* value : {"yes", "true", "01", " 1"}) {
    const std::string v = value;
    ASSERT_TRUE(Load(PackageData("<configuration required=\"" + v + "\"><config_file>"
                                 "<filename encrypt=\"" + v + "\">c.ini</filename></config_file>"
                                 "</configuration>",
                                 "<virtualization allow=\"" + v + "\"/>")));
    EXPECT_EQ(package.GetConfiguration().required, 0) << value;
    EXPECT_EQ(package.GetConfiguration().allowVirtualization, 0) << value;
    EXPECT_EQ(package.GetConfiguration().encrypt, 0) << value;
  }
}

TEST_F(PackageConfigurationTest, PlainFileIsKeptByteForByte) {
  const std::string binary("a\0b\r\n\xff\x80 end", 11);
  ASSERT_TRUE(Load(PackageData("<configuration><config_file><filename>Conf/App.ini</filename>"
                               "</config_file></configuration>"),
                   {{"conf/app.INI", binary}}));
  ASSERT_TRUE(package.GetConfigBytes().has_value());
  EXPECT_EQ(packagetest::Text(*package.GetConfigBytes()), binary);
}

TEST_F(PackageConfigurationTest, ProtectedFileDeciphersUnderTheFileNameKey) {
  if (!testsupport::HaveProgram("openssl")) GTEST_SKIP() << "openssl not installed";
  const std::string data = PackageData(
      "<configuration><config_file><filename encrypt=\"1\">cfg.bin</filename></config_file>"
      "</configuration>");
  const std::string hex = ProtectedText(dir, "SETUP42.exe");
  ASSERT_EQ(hex.size(), 32u);
  std::string upper = hex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The text ends at the first zero byte.
  for (const std::string& text : {hex, upper, hex + std::string("\0junk", 5)}) {
    ASSERT_TRUE(Load(data, {{"cfg.bin", text}}));
    ASSERT_TRUE(package.GetConfigBytes().has_value());
    EXPECT_EQ(packagetest::Text(*package.GetConfigBytes()), kPlainConfig);
  }
  // A file name shorter than a key is padded with spaces.
  const std::string shortName = ProtectedText(dir, "ab");
  ASSERT_TRUE(Load(data, {{"cfg.bin", shortName}}, u"en", Definition("ab", "")));
  EXPECT_EQ(packagetest::Text(*package.GetConfigBytes()), kPlainConfig);
}

TEST_F(PackageConfigurationTest, BadProtectedTextEscapesAfterTheArchiveIsReleased) {
  const std::string data = PackageData(
      "<configuration><config_file><filename encrypt=\"1\">cfg.bin</filename></config_file>"
      "</configuration>");
  const std::string digits32(32, 'a');
  struct Case {
    std::string text;
    const char* message;
  } cases[] = {{digits32.substr(0, 30), kDesBadLengthMessage},
               {digits32 + "\n", kDesBadLengthMessage},
               {digits32.substr(0, 31) + "G", kDesBadDigitMessage}};
  for (const auto& c : cases) {
    std::string message;
    try {
      Load(data, {{"cfg.bin", c.text}});
    } catch (const DesCryptException& e) {
      message = e.GetMessage();
    }
    EXPECT_EQ(message, c.message);
    EXPECT_TRUE(package.GetArchivePath().empty());
    trvzip::ZIP_File exclusive;  // succeeds only when the load let go of the file
    EXPECT_EQ(exclusive.Open(archive, false), trvzip::kZipOk);
  }
}

TEST_F(PackageConfigurationTest, ProtectedFileWithoutKeyTextFailsTheLoad) {
  const std::string data = PackageData(
      "<configuration><config_file><filename encrypt=\"1\">cfg.bin</filename></config_file>"
      "</configuration>");
  EXPECT_FALSE(Load(data, {{"cfg.bin", std::string(32, '0')}}, u"en",
                    "<trv_package><filename>\n  indented.exe\n</filename></trv_package>"));
  EXPECT_FALSE(package.GetConfigBytes().has_value());
}

TEST_F(PackageConfigurationTest, UserInterfaceElementServesWithoutConfigFile) {
  ASSERT_TRUE(Load(PackageData("<configuration><configui>"
                               "<filename lang=\"en\" encrypt=\"0\">ui.xml</filename>"
                               "</configui></configuration>"),
                   {{"ui.xml", "<ui/>"}}));
  EXPECT_EQ(Name(package.GetConfiguration().configFile), "ui.xml");
  EXPECT_EQ(packagetest::Text(package.GetConfigBytes().value()), "<ui/>");

  // config_file without filename: no configuration file, the UI name still counts.
  ASSERT_TRUE(Load(PackageData("<configuration><configui><filename lang=\"en\">ui.xml</filename>"
                               "</configui><config_file/></configuration>"),
                   {{"ui.xml", "<ui/>"}}));
  EXPECT_EQ(Name(package.GetConfiguration().configUiFile), "ui.xml");
  EXPECT_TRUE(package.GetConfiguration().configFile.empty());
  EXPECT_FALSE(package.GetConfigBytes().has_value());
}

TEST_F(PackageConfigurationTest, ConfigurationMemberStates) {
  const std::string plain = PackageData(
      "<configuration><config_file><filename>cfg.ini</filename></config_file></configuration>");
  const std::string prot = PackageData(
      "<configuration><config_file><filename encrypt=\"1\">cfg.ini</filename></config_file>"
      "</configuration>");
  // Empty member: present with no bytes, plain or protected.
  for (const std::string& data : {plain, prot}) {
    ASSERT_TRUE(Load(data, {{"cfg.ini", ""}}));
    ASSERT_TRUE(package.GetConfigBytes().has_value());
    EXPECT_TRUE(package.GetConfigBytes()->empty());
  }
  // Damaged member (its stored bytes no longer match their CRC-32): the load fails.
  Load(plain, {{"cfg.ini", "DAMAGE-ME-PLEASE"}});
  auto bytes = testsupport::ReadFile(archive);
  const std::string marker = "DAMAGE-ME";
  auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  ASSERT_NE(at, bytes.end());
  *at = 'd';
  testsupport::WriteFile(archive, bytes);
  TVPkg fresh;
  EXPECT_FALSE(fresh.Load(archive.c_str(), u"SETUP42.xml", u"en"));
  EXPECT_TRUE(fresh.GetArchivePath().empty());
}

TEST_F(PackageConfigurationTest, BrokenPackageDataStillLoads) {
  for (const std::string& data : {std::string("<tv_pkg_data>"), std::string(""),
                                  PackageData("<other/>")}) {
    ASSERT_TRUE(Load(data, {{"cfg.ini", "x"}}));
    EXPECT_FALSE(package.GetConfigBytes().has_value());
    EXPECT_TRUE(package.GetConfiguration().configFile.empty());
  }
}

TEST(MemberBytes, DeclaredSizesMustFitTheArchive) {
  struct Case {
    uint32_t method, compressed, uncompressed;
    uint64_t archiveSize;
    bool plausible;
  } cases[] = {
      {0, 100, 100, 1000, true},           {0, 100, 101, 1000, false},
      {0, 2000, 2000, 1000, false},        {8, 100, 103200, 1000, true},
      {8, 100, 200000, 1000, false},       {8, 0, 0, 100, true},
      {8, 300000, kMaxMemberSize + 1, 400000, false},
      {8, 1 << 20, kMaxMemberSize, 2 << 20, true},
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
