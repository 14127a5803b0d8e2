// The package data document and the configuration file it names.

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "crypt/des_crypt.h"
#include "crypt/wide_to_narrow.h"
#include "xml/element_text.h"
#include "package/member_bytes.h"
#include "package/tv_pkg.h"
#include "zip/zip_file.h"

namespace {

// Flags are set by the exact value "1" only.
uint8_t FlagValue(const CTrvXMLNode* element, const char16_t* attribute) {
  const char16_t* value = element->GetAttribute(attribute);
  return value != nullptr && std::u16string_view(value) == u"1" ? 1 : 0;
}

// The key text for a protected file: the package's file name in the locale's
// charset. Room for the widest charset (4 bytes per unit) and the terminator.
std::optional<std::string> KeyText(const char16_t* fileName) {
  if (fileName == nullptr) return std::nullopt;
  std::vector<char> buffer(4 * (std::char_traits<char16_t>::length(fileName) + 1));
  if (WideToNarrow(buffer.data(), fileName, buffer.size(), kCodePageThreadAnsi) == nullptr) {
    return std::nullopt;
  }
  return std::string(buffer.data());
}

}  // namespace

bool TVPkg::ReadConfiguration(PackageConfiguration& record) {
  if (!packageData.IsLoaded()) return false;
  bool result = false;
  CTrvXMLNode* data = packageData.FindElement(nullptr, u"tv_pkg_data");
  CTrvXMLNode* configuration = data ? packageData.FindElement(data, u"configuration") : nullptr;
  CTrvXMLNode* virtualization = data ? packageData.FindElement(data, u"virtualization") : nullptr;
  CTrvXMLNode* configUi = nullptr;
  if (configuration != nullptr) {
    record.required = FlagValue(configuration, u"required");
    configUi = packageData.FindElement(configuration, u"configui");
  }

  CTrvXMLNode* uiFile =
      configUi ? packageData.FindElement(configUi, u"filename", u"lang", language.c_str()) : nullptr;
  // English is the fallback; without a configui element the top level is searched.
  if (uiFile == nullptr) uiFile = packageData.FindElement(configUi, u"filename", u"lang", kDefaultLanguage);
  if (const char16_t* text = ElementText(uiFile)) {
    record.configUiFile = text;
    result = true;
  }

  // Without a config_file element the user-interface file serves as the configuration file.
  CTrvXMLNode* configFileElement =
      configuration ? packageData.FindElement(configuration, u"config_file") : nullptr;
  CTrvXMLNode* fileElement =
      configFileElement ? configFileElement->FindChild(u"filename") : uiFile;
  if (fileElement != nullptr) {
    record.encrypt = FlagValue(fileElement, u"encrypt");
    if (const char16_t* text = ElementText(fileElement)) {
      record.configFile = text;
      result = true;
    }
  }

  if (virtualization != nullptr) {
    record.allowVirtualization = FlagValue(virtualization, u"allow");
  }
  return result;
}

bool TVPkg::LoadConfigFile(trvzip::ZIP_File& archive, uint64_t archiveSize) {
  // An empty name names no file, even in an archive holding a nameless member.
  if (config.configFile.empty()) return true;
  trvzip::ZIP_FileEntry* entry = archive.FindEntry(config.configFile.c_str());
  if (entry == nullptr) return true;
  auto bytes = ExtractMember(*entry, archiveSize, &failureCause);
  if (!bytes) return false;
  configBytes.reset();
  configBytes = config.encrypt == 0 ? std::move(bytes) : Decipher(*bytes);
  return configBytes.has_value();
}

// Deciphers a protected configuration file; nullopt when there is no key text.
// Throws DesCryptException for a text that is not whole blocks of hex digits.
std::optional<std::vector<uint8_t>> TVPkg::Decipher(const std::vector<uint8_t>& text) const {
  const auto keyText = KeyText(GetFileName());
  if (!keyText) return std::nullopt;
  DesCrypt des;
  des.ignoreParity = true;
  uint8_t key[8];
  DesCrypt::MakeKey(keyText->c_str(), key);
  des.SetKey(key);
  // The text ends at the first zero byte or at the member's end.
  std::string hex;
  if (!text.empty()) {
    const auto* chars = reinterpret_cast<const char*>(text.data());
    hex.assign(chars, ::strnlen(chars, text.size()));
  }
  std::vector<uint8_t> plain;
  des.DecryptHex(hex.c_str(), &plain, nullptr);
  return plain;
}
