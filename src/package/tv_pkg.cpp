#include "package/tv_pkg.h"

#include <limits>

#include "xml/element_text.h"
#include "package/member_bytes.h"
#include "package/member_name.h"
#include "zip/zip_file.h"

namespace {

constexpr char16_t kPackageDataMember[] = u"tv_data.xml";

int ParseDocument(CTrvXMLReader& reader, const std::vector<uint8_t>& bytes) {
  // Members are capped far below the parser's signed 32-bit length.
  static_assert(kMaxMemberSize <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max()));
  return reader.Parse(bytes.data(), static_cast<int32_t>(bytes.size()));
}

}  // namespace

TVPkg::TVPkg() { Reset(); }

TVPkg::~TVPkg() { Reset(); }

bool TVPkg::Reset() {
  configBytes.reset();
  language = kDefaultLanguage;
  config = PackageConfiguration{};
  archivePath.clear();
  packageData.Clear();
  definition.Clear();
  return true;
}

bool TVPkg::Load(const char* path, const char16_t* memberName, const char16_t* newLanguage) {
  if (path == nullptr || memberName == nullptr) return false;
  if (!archivePath.empty()) Reset();
  if (newLanguage != nullptr) language = newLanguage;

  // Released on every path, an exception from the deciphering included.
  trvzip::ZIP_File archive;
  if (archive.Open(path, true) != trvzip::kZipOk) return false;
  // The whole file the archive is in bounds the sizes its members declare.
  const uint64_t archiveSize = archive.GetFileSize();
  if (!LoadDefinition(archive, memberName, archiveSize)) return false;

  bool result = true;
  if (LoadPackageData(archive, archiveSize)) {
    result = LoadConfigFile(archive, archiveSize) != ConfigOutcome::Failed;
  }
  if (result) archivePath = path;
  archive.Close();
  return result;
}

bool TVPkg::LoadDefinition(trvzip::ZIP_File& archive, const char16_t* memberName,
                           uint64_t archiveSize) {
  trvzip::ZIP_FileEntry* entry = archive.FindEntry(memberName);
  if (entry == nullptr) return false;
  const auto bytes = ExtractMember(*entry, archiveSize);
  return bytes && ParseDocument(definition, *bytes) == 0;
}

// True when the package data was read and names a configuration.
bool TVPkg::LoadPackageData(trvzip::ZIP_File& archive, uint64_t archiveSize) {
  trvzip::ZIP_FileEntry* entry = archive.FindEntry(kPackageDataMember);
  if (entry == nullptr) return false;
  const auto bytes = ExtractMember(*entry, archiveSize);
  if (!bytes || ParseDocument(packageData, *bytes) != 0) return false;
  return ReadConfiguration(config);
}

bool TVPkg::HasPayload(const char* path, const char16_t* newLanguage) {
  if (path == nullptr) return false;
  const std::u16string member = DefinitionMemberName(path);
  return Load(path, member.c_str(), newLanguage);
}

const char16_t* TVPkg::GetFileName() const {
  CTrvXMLNode* package = definition.FindElement(nullptr, u"trv_package");
  if (package == nullptr) return nullptr;
  return ElementText(definition.FindElement(package, u"filename"));
}

const char16_t* TVPkg::GetVersion() const {
  CTrvXMLNode* package = definition.FindElement(nullptr, u"trv_package");
  if (package == nullptr) return nullptr;
  CTrvXMLNode* version = definition.FindElement(package, u"version");
  return version != nullptr ? version->GetAttribute(u"value") : nullptr;
}

const char16_t* TVPkg::GetName() const {
  if (!definition.IsLoaded()) return nullptr;
  CTrvXMLNode* package = definition.FindElement(nullptr, u"trv_package");
  CTrvXMLNode* names = package ? definition.FindElement(package, u"name") : nullptr;
  CTrvXMLNode* found =
      names ? definition.FindElement(names, u"name_xlate", u"lang", language.c_str()) : nullptr;
  // English is the fallback; without a name list the top level is searched.
  if (found == nullptr) found = definition.FindElement(names, u"name_xlate", u"lang", kDefaultLanguage);
  return ElementText(found);
}
