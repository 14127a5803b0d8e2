#include "package/tv_pkg.h"

#include <limits>
#include <utility>

#include "xml/element_text.h"
#include "package/load_failure.h"
#include "package/member_bytes.h"
#include "package/member_name.h"
#include "zip/zip_file.h"

namespace {

constexpr char16_t kPackageDataMember[] = u"tv_data.xml";

// Parses the member memberName into reader; false when it is missing or
// cannot be read (*why says why) or parsed.
bool LoadDocument(trvzip::ZIP_File& archive, const char16_t* memberName, uint64_t archiveSize,
                  CTrvXMLReader& reader, std::string* why) {
  trvzip::ZIP_FileEntry* entry = archive.FindEntry(memberName);
  if (entry == nullptr) return false;
  const auto bytes = ExtractMember(*entry, archiveSize, why);
  // Members are capped far below the parser's signed 32-bit length.
  static_assert(kMaxMemberSize <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max()));
  return bytes && reader.Parse(bytes->data(), static_cast<int32_t>(bytes->size())) == 0;
}

}  // namespace

TVPkg::TVPkg() { Reset(); }

void TVPkg::Reset() {
  configBytes.reset();
  failureCause.clear();
  language = kDefaultLanguage;
  config = PackageConfiguration{};
  archivePath.clear();
  archiveStamp.reset();
  packageData.Clear();
  definition.Clear();
}

bool TVPkg::BeginLoad(const char* path, const char16_t* memberName,
                      const char16_t* newLanguage) {
  if (path == nullptr || memberName == nullptr) return false;
  if (!archivePath.empty()) Reset();
  failureCause.clear();
  if (newLanguage != nullptr) language = newLanguage;
  return true;
}

bool TVPkg::Load(const char* path, const char16_t* memberName, const char16_t* newLanguage) {
  if (!BeginLoad(path, memberName, newLanguage)) return false;
  // Released on every path, an exception from the deciphering included.
  trvzip::ZIP_File archive;
  return LoadOpened(archive, archive.Open(path, true), path, memberName);
}

bool TVPkg::Load(platform::FileHandle held, const char* path, const char16_t* memberName,
                 const char16_t* newLanguage) {
  if (!BeginLoad(path, memberName, newLanguage)) return false;
  trvzip::ZIP_File archive;
  return LoadOpened(archive, archive.Open(std::move(held)), path, memberName);
}

bool TVPkg::LoadOpened(trvzip::ZIP_File& archive, int opened, const char* path,
                       const char16_t* memberName) {
  if (opened != trvzip::kZipOk) {
    failureCause = ArchiveFailureText(opened);
    return false;
  }
  // The whole file the archive is in bounds the sizes its members declare.
  const uint64_t archiveSize = archive.GetFileSize();
  if (!LoadDocument(archive, memberName, archiveSize, definition, &failureCause)) return false;

  // Only package data that names a configuration brings a configuration file;
  // package data that cannot be read names none, as before.
  bool result = true;
  std::string ignored;
  if (LoadDocument(archive, kPackageDataMember, archiveSize, packageData, &ignored) &&
      ReadConfiguration(config)) {
    result = LoadConfigFile(archive, archiveSize);
  }
  if (result) {
    archivePath = path;
    archiveStamp = archive.Stamp();
  }
  archive.Close();
  return result;
}

bool TVPkg::HasPayload(const char* path, const char16_t* newLanguage) {
  if (path == nullptr) return false;
  const std::u16string member = DefinitionMemberName(path);
  return Load(path, member.c_str(), newLanguage);
}

bool TVPkg::HasPayload(platform::FileHandle held, const char* path,
                       const char16_t* newLanguage) {
  if (path == nullptr) return false;
  const std::u16string member = DefinitionMemberName(path);
  return Load(std::move(held), path, member.c_str(), newLanguage);
}

// The named child of the definition's trv_package element; null when either is missing.
CTrvXMLNode* TVPkg::DefinitionElement(const char16_t* name) const {
  CTrvXMLNode* package = definition.FindElement(nullptr, u"trv_package");
  return package != nullptr ? definition.FindElement(package, name) : nullptr;
}

const char16_t* TVPkg::GetFileName() const { return ElementText(DefinitionElement(u"filename")); }

const char16_t* TVPkg::GetVersion() const {
  CTrvXMLNode* version = DefinitionElement(u"version");
  return version != nullptr ? version->GetAttribute(u"value") : nullptr;
}

const char16_t* TVPkg::GetName() const {
  if (!definition.IsLoaded()) return nullptr;
  CTrvXMLNode* names = DefinitionElement(u"name");
  CTrvXMLNode* found =
      names ? definition.FindElement(names, u"name_xlate", u"lang", language.c_str()) : nullptr;
  // English is the fallback; without a name list the top level is searched.
  if (found == nullptr) found = definition.FindElement(names, u"name_xlate", u"lang", kDefaultLanguage);
  return ElementText(found);
}
