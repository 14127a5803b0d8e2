// The package layer as the tool drives it: a definition, its package data and
// a configuration file are packed into an archive, which is loaded as a
// package and queried; the package's name and version are then composed into
// a version block as the version update does.
//
// Input: one flags byte, then the definition, "tv_data.xml" and the
// configuration member's bytes, separated by kSeparator. Flags:
//   bit 0  store the configuration protected: DES under the key the
//          definition's file name gives, as hexadecimal text
//   bit 1  deflate the members (else stored)
//   bit 2  load in German (else English)
//   bit 3  put the archive behind a prefix, as in a built package
//   bit 4  load it as the tool probes a file for a payload (HasPayload: the
//          definition named after the file)

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypt/des_crypt.h"
#include "fuzz_support.h"
#include "zip_archive_builder.h"
#include "package/tv_pkg.h"
#include "platform/ascii.h"
#include "platform/code_page.h"
#include "platform/text.h"
#include "verinfo/version_block.h"
#include "verinfo/version_numbers.h"
#include "verinfo/version_update.h"
#include "xml/element_text.h"
#include "xml/xml_reader.h"

namespace {

constexpr std::string_view kSeparator = "\n#--#\n";
constexpr char kDefinitionMember[] = "SETUP42.xml";
constexpr char kConfigMember[] = "settings.cfg";
constexpr uint32_t kPrefixSize = 4096;

// The key text the package layer derives: the definition's file name in the
// locale's charset.
std::optional<std::string> KeyText(std::span<const uint8_t> definition) {
  CTrvXMLReader reader;
  if (reader.Parse(definition.data(), static_cast<int32_t>(definition.size())) != 0) {
    return std::nullopt;
  }
  CTrvXMLNode* package = reader.FindElement(nullptr, u"trv_package");
  const char16_t* name = package ? ElementText(reader.FindElement(package, u"filename")) : nullptr;
  if (name == nullptr) return std::nullopt;
  return platform::WideToCodePage(name, platform::kCodePageThreadAnsi);
}

// The configuration padded with blanks to whole blocks.
std::vector<uint8_t> Padded(std::span<const uint8_t> plain) {
  std::vector<uint8_t> padded(plain.begin(), plain.end());
  padded.resize((padded.size() + 7) / 8 * 8, ' ');
  return padded;
}

// Enciphers as the packaging tools do; the cipher's round keys in forward
// order encipher.
std::vector<uint8_t> Protect(std::span<const uint8_t> plain, const std::string& keyText) {
  DesCrypt des;
  des.ignoreParity = true;
  uint8_t key[8];
  DesCrypt::MakeKey(keyText.c_str(), key);
  des.SetKey(key);
  const std::vector<uint8_t> padded = Padded(plain);
  std::vector<uint8_t> hex;
  for (std::size_t at = 0; at < padded.size(); at += 8) {
    uint8_t block[8];
    DesCrypt::DecryptBlock(des.roundKeys, &padded[at], block);
    for (uint8_t b : block) {
      hex.push_back("0123456789ABCDEF"[b >> 4]);
      hex.push_back("0123456789ABCDEF"[b & 15]);
    }
  }
  return hex;
}

// The tool's version block from the package's name and version: its product
// name must read back as composed.
void CheckVersionBlock(const char16_t* name, const char16_t* version) {
  VersionStringMap map;
  ComposeVersionStrings(map, name, version, u"");
  std::array<uint8_t, kFixedRecordSize> fixed{};
  uint32_t high = 0;
  uint32_t low = 0;
  ParseVersionNumbers(version, &high, &low);
  StoreVersionNumbers(fixed, high, low);
  const auto block = BuildVersionInfoBlock(fixed, map);
  if (!block) return;
  const void* value = nullptr;
  uint32_t length = 0;
  FUZZ_CHECK(VerQueryValue(*block, u"\\StringFileInfo\\040904b0\\ProductName", &value, &length));
  const std::u16string expected = std::u16string(name) + u" Package";
  const auto* text = static_cast<const uint8_t*>(value);
  std::u16string got;
  for (uint32_t i = 0; i + 1 < length; ++i) {
    got.push_back(static_cast<char16_t>(text[2 * i] | text[2 * i + 1] << 8));
  }
  FUZZ_CHECK(length == expected.size() + 1 && got == expected);
}

bool NamesConfigMember(const std::u16string& configFile) {
  const auto narrow = platform::WideToCodePage(configFile, platform::kCodePageThreadAnsi);
  return narrow && platform::EqualsNoCaseAscii<char>(*narrow, kConfigMember);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const auto parts = fuzzsupport::Split({data + 1, size - 1}, kSeparator, 3);
  const std::span<const uint8_t> definition = parts[0];
  const std::span<const uint8_t> packageData =
      parts.size() > 1 ? parts[1] : std::span<const uint8_t>();
  const std::span<const uint8_t> config = parts.size() > 2 ? parts[2] : std::span<const uint8_t>();
  const bool deflate = (flags & 2) != 0;

  std::optional<std::string> key;
  std::vector<uint8_t> stored(config.begin(), config.end());
  if ((flags & 1) != 0 && (key = KeyText(definition))) stored = Protect(config, *key);
  const uint16_t method = deflate ? 8 : 0;
  ziptest::Archive archive;
  archive.members = {
      ziptest::Make(kDefinitionMember, {definition.begin(), definition.end()}, method),
      ziptest::Make("tv_data.xml", {packageData.begin(), packageData.end()}, method),
      ziptest::Make(kConfigMember, {stored.begin(), stored.end()}, method)};
  archive.shift = (flags & 8) != 0 ? kPrefixSize : 0;
  const std::string built = std::string(archive.shift, '\0') + ziptest::Build(archive);
  const std::vector<uint8_t> file(built.begin(), built.end());
  // Named as the package executable whose definition is kDefinitionMember.
  const std::string path = fuzzsupport::ScratchFile("SETUP42.exe");
  fuzzsupport::WriteWholeFile(path, file);

  TVPkg package;
  bool loaded = false;
  try {
    const char16_t* language = (flags & 4) != 0 ? u"de" : u"en";
    loaded = (flags & 16) != 0 ? package.HasPayload(path.c_str(), language)
                               : package.Load(path.c_str(), u"setup42.xml", language);
  } catch (const DesCryptException&) {
    // A protected file that is not whole blocks of hexadecimal digits.
  }
  const char16_t* name = package.GetName();
  const char16_t* version = package.GetVersion();
  package.GetFileName();
  PackageConfiguration configuration;
  package.ReadConfiguration(configuration);
  if (!loaded) return 0;

  FUZZ_CHECK(package.GetArchivePath() == path);
  const auto& bytes = package.GetConfigBytes();
  const PackageConfiguration& read = package.GetConfiguration();
  if (bytes && NamesConfigMember(read.configFile)) {
    if (read.encrypt == 0 && (flags & 1) == 0) {
      FUZZ_CHECK(std::equal(bytes->begin(), bytes->end(), config.begin(), config.end()));
    } else if (read.encrypt != 0 && key) {
      FUZZ_CHECK(*bytes == Padded(config));
    }
  }
  if (name != nullptr && version != nullptr) CheckVersionBlock(name, version);
  return 0;
}
