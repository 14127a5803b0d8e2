// The package data document and the configuration file it names.

#include <gtest/gtest.h>

#include <algorithm>

#include "crypt/des_crypt.h"
#include "package/tv_pkg.h"
#include "package_archive.h"
#include "platform/code_page.h"
#include "platform/text.h"
#include "zip/zip_file.h"

namespace {

using packagetest::Member;

const std::string kPlainConfig = "[cfg]\nmode=safe\n";  // two DES blocks

std::string PackageData(const std::string& inside) {
  return "<?xml version=\"1.0\"?>\n<tv_pkg_data>\n" + inside + "\n</tv_pkg_data>\n";
}

// Package data naming cfg.bin as the configuration file, with the given attributes.
std::string ConfigFileData(const std::string& attributes = "") {
  return PackageData("<configuration><config_file><filename" + attributes +
                     ">cfg.bin</filename></config_file></configuration>");
}

std::string Text(const std::optional<std::vector<uint8_t>>& bytes) {
  return bytes ? std::string(bytes->begin(), bytes->end()) : "(absent)";
}

// kPlainConfig enciphered by openssl under the key made from keyText, as hex.
std::string ProtectedText(const testsupport::TempDir& dir, const std::string& keyText) {
  uint8_t key[8];
  DesCrypt::MakeKey(keyText.c_str(), key);
  char hexKey[17];
  for (int i = 0; i < 8; ++i) std::snprintf(hexKey + 2 * i, 3, "%02x", key[i]);
  testsupport::WriteFile(dir.File("plain.cfg"), kPlainConfig);
  const auto run = testsupport::RunCommand(
      std::string("openssl enc -des-ecb -nopad -provider legacy -provider default -K ") + hexKey +
      " -in " + testsupport::ShellQuote(dir.File("plain.cfg")) + " | od -An -tx1 | tr -d ' \\n'");
  EXPECT_EQ(run.exitCode, 0);
  return run.output;
}

class PackageConfigurationTest : public ::testing::Test {
 protected:
  // Loads an archive holding a definition, the package data and the extra members.
  bool Load(const std::string& packageData, std::vector<Member> extra = {},
            const char16_t* language = u"en",
            const std::string& definition = packagetest::StandardDefinition()) {
    extra.push_back({"SETUP42.xml", definition});
    extra.push_back({"tv_data.xml", packageData});
    archive = packagetest::MakeArchive(dir, "pkg.zip", extra);
    return package.Load(archive.c_str(), u"SETUP42.xml", language);
  }
  const PackageConfiguration& Config() const { return package.GetConfiguration(); }

  testsupport::TempDir dir;
  TVPkg package;
  std::string archive;
};

TEST_F(PackageConfigurationTest, UserInterfaceFileFollowsLanguage) {
  const std::string data = PackageData(
      "<configuration><configui><filename lang=\"en\">ui_en.xml</filename>"
      "<filename lang=\"JA\">ui_ja.xml</filename></configui>"
      "<config_file><filename>cfg.bin</filename></config_file></configuration>");
  ASSERT_TRUE(Load(data, {}, u"ja"));
  EXPECT_EQ(platform::Narrow(Config().configUiFile), "ui_ja.xml");
  ASSERT_TRUE(Load(data, {}, u"fr"));
  EXPECT_EQ(platform::Narrow(Config().configUiFile), "ui_en.xml");
  // Neither the language nor English, and cfg.bin named but absent: no bytes.
  ASSERT_TRUE(
      Load(PackageData("<configuration><configui><filename lang=\"de\">d</filename>"
                       "</configui><config_file><filename>cfg.bin</filename>"
                       "</config_file></configuration>")));
  EXPECT_TRUE(Config().configUiFile.empty());
  EXPECT_EQ(platform::Narrow(Config().configFile), "cfg.bin");
  EXPECT_FALSE(package.GetConfigBytes().has_value());
}

TEST_F(PackageConfigurationTest, FlagsAreSetByExactlyOne) {
  for (const std::string value : {"1", "yes", "true", "01", "10", "1 ", ""}) {
    const std::string one = value == "1" ? "1" : "0";
    ASSERT_TRUE(Load(PackageData("<configuration required=\"" + value +
                                 "\"><config_file>"
                                 "<filename encrypt=\"" +
                                 value +
                                 "\">c</filename></config_file>"
                                 "</configuration><virtualization allow=\"" +
                                 value + "\"/>")));
    EXPECT_EQ(std::to_string(Config().required) + std::to_string(Config().encrypt) +
                  std::to_string(Config().allowVirtualization),
              one + one + one)
        << value;
  }
}

TEST_F(PackageConfigurationTest, PlainFileIsKeptByteForByte) {
  const std::string binary("a\0b\r\n\xff\x80 end", 11);
  for (const std::string attributes : {"", " encrypt=\"0\""}) {
    ASSERT_TRUE(Load(ConfigFileData(attributes), {{"CFG.BIN", binary}}));
    EXPECT_EQ(Text(package.GetConfigBytes()), binary);
  }
}

TEST_F(PackageConfigurationTest, ProtectedFileDeciphersUnderTheFileNameKey) {
  if (!testsupport::HaveProgram("openssl")) GTEST_SKIP() << "openssl not installed";
  const std::string hex = ProtectedText(dir, "SETUP42.exe");
  ASSERT_EQ(hex.size(), 32u);
  std::string upper = hex;
  std::transform(hex.begin(), hex.end(), upper.begin(), [](char c) { return std::toupper(c); });
  // The text ends at the first zero byte.
  for (const std::string& text : {hex, upper, hex + std::string("\0junk", 5)}) {
    ASSERT_TRUE(Load(ConfigFileData(" encrypt=\"1\""), {{"cfg.bin", text}}));
    EXPECT_EQ(Text(package.GetConfigBytes()), kPlainConfig);
  }
  // A file name shorter than a key is padded with spaces.
  ASSERT_TRUE(Load(ConfigFileData(" encrypt=\"1\""), {{"cfg.bin", ProtectedText(dir, "ab")}}, u"en",
                   packagetest::Definition("ab", "")));
  EXPECT_EQ(Text(package.GetConfigBytes()), kPlainConfig);
  // A key text in the locale's charset takes more bytes than the name has units.
  const std::u16string wide = u"Gr\u00f6\u00dfe\u20ac.exe";
  if (const auto narrow = platform::WideToCodePage(wide, platform::kCodePageThreadAnsi)) {
    ASSERT_TRUE(Load(ConfigFileData(" encrypt=\"1\""), {{"cfg.bin", ProtectedText(dir, *narrow)}},
                     u"en", packagetest::Definition(platform::Narrow(wide), "")));
    EXPECT_EQ(Text(package.GetConfigBytes()), kPlainConfig);
  }
  // No file name text, so no key: the load fails.
  EXPECT_FALSE(Load(ConfigFileData(" encrypt=\"1\""), {{"cfg.bin", hex}}, u"en",
                    packagetest::Definition("\n  indented.exe\n", "")));
  EXPECT_FALSE(package.GetConfigBytes().has_value());
}

TEST_F(PackageConfigurationTest, BadProtectedTextEscapesAfterTheArchiveIsReleased) {
  const std::string d32(32, 'a');
  const std::pair<std::string, const char*> cases[] = {
      {d32.substr(0, 30), kDesBadLengthMessage},
      {d32 + "\n", kDesBadLengthMessage},
      {d32.substr(0, 31) + "G", kDesBadDigitMessage}};
  for (const auto& [text, expected] : cases) {
    std::string message;
    try {
      Load(ConfigFileData(" encrypt=\"1\""), {{"cfg.bin", text}});
    } catch (const DesCryptException& e) {
      message = e.GetMessage();
    }
    EXPECT_EQ(message, expected);
    trvzip::ZIP_File exclusive;  // opens only when the load let go of the file
    EXPECT_EQ(exclusive.Open(archive, false), trvzip::kZipOk);
  }
}

TEST_F(PackageConfigurationTest, UserInterfaceElementServesWithoutConfigFile) {
  const std::string ui =
      "<configui><filename lang=\"en\" encrypt=\"0\">ui.xml</filename></configui>";
  ASSERT_TRUE(
      Load(PackageData("<configuration>" + ui + "</configuration>"), {{"ui.xml", "<ui/>"}}));
  EXPECT_EQ(platform::Narrow(Config().configFile), "ui.xml");
  EXPECT_EQ(Text(package.GetConfigBytes()), "<ui/>");
  // config_file without filename: no configuration file, the user-interface name still counts.
  ASSERT_TRUE(Load(PackageData("<configuration>" + ui + "<config_file/></configuration>"),
                   {{"ui.xml", "<ui/>"}}));
  EXPECT_EQ(platform::Narrow(Config().configUiFile), "ui.xml");
  EXPECT_TRUE(Config().configFile.empty());
  EXPECT_FALSE(package.GetConfigBytes().has_value());
}

TEST_F(PackageConfigurationTest, EmptyDamagedAndBrokenMembers) {
  for (const std::string attributes : {"", " encrypt=\"1\""}) {
    ASSERT_TRUE(Load(ConfigFileData(attributes), {{"cfg.bin", ""}}));
    EXPECT_EQ(Text(package.GetConfigBytes()), "");  // present, with no bytes
  }
  // A package data document that does not parse or names nothing: loaded without bytes.
  for (const std::string data : {"<tv_pkg_data>", "", "<other/>"}) {
    ASSERT_TRUE(Load(data, {{"cfg.bin", "x"}}));
    EXPECT_FALSE(package.GetConfigBytes().has_value());
  }
  // Stored bytes that no longer match their CRC-32: the load fails.
  ASSERT_TRUE(Load(ConfigFileData(), {{"cfg.bin", "DAMAGE-ME-PLEASE"}}));
  auto bytes = testsupport::ReadFile(archive);
  const std::string marker = "DAMAGE-ME";
  auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  ASSERT_NE(at, bytes.end());
  *at = 'd';
  testsupport::WriteFile(archive, bytes);
  TVPkg fresh;
  EXPECT_FALSE(fresh.Load(archive.c_str(), u"SETUP42.xml", u"en"));
}

}  // namespace
