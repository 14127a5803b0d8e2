#pragma once
// One package: its definition and package data documents, read out of a ZIP
// archive that stands alone or sits at the end of an executable, and the
// configuration file the package data names.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/package_configuration.h"
#include "platform/file_handle.h"
#include "xml/xml_reader.h"

// The language every look-up falls back to, and the one a new package starts with.
inline constexpr char16_t kDefaultLanguage[] = u"en";

namespace trvzip {
class ZIP_File;
}

class TVPkg {
 public:
  TVPkg();
  TVPkg(const TVPkg&) = delete;
  TVPkg& operator=(const TVPkg&) = delete;

  // Forgets everything loaded; the language returns to "en".
  void Reset();
  // Loads the package whose definition is the member memberName of the archive
  // at archivePath. language (may be null) replaces the current language.
  // false when the archive, the definition or a named configuration file
  // cannot be read; a DesCryptException from a protected configuration file
  // passes through to the caller.
  bool Load(const char* archivePath, const char16_t* memberName, const char16_t* language);
  // Whether the file at path carries a package whose definition is named
  // after the file itself.
  bool HasPayload(const char* path, const char16_t* language);
  // The same on held, the file at archivePath (or path) already open for
  // reading: what is loaded is that file, whatever its name names by now.
  bool Load(platform::FileHandle held, const char* archivePath, const char16_t* memberName,
            const char16_t* language);
  bool HasPayload(platform::FileHandle held, const char* path, const char16_t* language);

  // Queries on the definition; null when absent. The texts stay valid until
  // the next Reset or Load.
  const char16_t* GetFileName() const;
  // The name in the current language, else in English.
  const char16_t* GetName() const;
  const char16_t* GetVersion() const;

  // Fills config from the package data; true when a user-interface file or a
  // configuration file name was found. Fields not found keep their values.
  bool ReadConfiguration(PackageConfiguration& config);

  const PackageConfiguration& GetConfiguration() const { return config; }
  // Absent when the package has no configuration file loaded.
  const std::optional<std::vector<uint8_t>>& GetConfigBytes() const { return configBytes; }
  // Why the last Load failed, for the user: the archive's or a member's
  // fault. Empty after a success, and when the file cannot be opened, the
  // definition is missing or it is not a document.
  const std::string& GetFailureCause() const { return failureCause; }
  // Empty unless a load succeeded.
  const std::string& GetArchivePath() const { return archivePath; }
  // The loaded archive's file as it was while it was read; absent unless a
  // load succeeded.
  const std::optional<platform::FileStamp>& GetArchiveStamp() const { return archiveStamp; }
  const std::u16string& GetLanguage() const { return language; }

 private:
  // Starts a load of the archive at path; false when path or memberName is null.
  bool BeginLoad(const char* path, const char16_t* memberName, const char16_t* newLanguage);
  // Reads the package out of archive, opened with the result opened.
  bool LoadOpened(trvzip::ZIP_File& archive, int opened, const char* path,
                  const char16_t* memberName);
  CTrvXMLNode* DefinitionElement(const char16_t* name) const;
  // False when the configuration file is in the archive but cannot be read.
  bool LoadConfigFile(trvzip::ZIP_File& archive, uint64_t archiveSize);
  std::optional<std::vector<uint8_t>> Decipher(const std::vector<uint8_t>& text) const;

  CTrvXMLReader definition;
  CTrvXMLReader packageData;
  std::u16string language;
  std::string archivePath;
  std::optional<platform::FileStamp> archiveStamp;
  std::string failureCause;
  std::optional<std::vector<uint8_t>> configBytes;
  PackageConfiguration config;
};
