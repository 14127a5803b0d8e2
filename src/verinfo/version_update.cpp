#include "verinfo/version_update.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

#include "pe/resource_update.h"
#include "pe/version_resource.h"
#include "platform/console.h"
#include "verinfo/version_block.h"
#include "verinfo/version_numbers.h"
#include "verinfo/version_strings.h"

namespace {

using pe::kLanguageNeutral;
using pe::kLanguageUsEnglish;

using Failure = VersionUpdateFailure;

// Stores block as the file's version resource; the failure (the failed
// step's error code and its cause) when the update cannot be made or written.
std::optional<Failure> WriteVersionResource(pe::ImageFile& image, std::span<const uint8_t> block) {
  const auto type = pe::ResourceName::Id(pe::kVersionResourceType);
  const auto name = pe::ResourceName::Id(pe::kVersionResourceName);
  pe::ResourceUpdate update;
  bool updated = update.Begin(image, false) && update.Update(type, name, kLanguageUsEnglish, block);
  // Readers prefer a language-neutral entry to 1033, so one left with the
  // stub's information would hide the package's.
  if (updated && std::ranges::count(update.Languages(type, name), kLanguageNeutral) != 0) {
    updated = update.Update(type, name, kLanguageNeutral, block);
  }
  if (updated && update.End(false)) return std::nullopt;
  // The failed step's code; the update, if still pending, is dropped.
  Failure failure{Failure::Kind::UpdateFailed, update.LastError(), update.LastCause()};
  update.End(true);
  return failure;
}

}  // namespace

std::string VersionUpdateFailure::Message(std::string_view output) const {
  switch (kind) {
    case Kind::NoName:
      return "\nERROR: the package definition has no name";
    case Kind::NoVersion:
      return "\nERROR: the package definition has no version";
    case Kind::NoVersionInformation:
      return platform::FormatText("\nERROR: unable to obtain version information from '%s'",
                                  {output});
    case Kind::TooLarge:
      return "\nERROR: the version information is too large";
    case Kind::UpdateFailed:
      break;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(code));
  const std::string line =
      platform::FormatText("ERROR: UpdateResource(RT_VERSION) failed (%s).\n", {hex});
  return cause.empty() ? line : platform::FormatText("ERROR: %s\n", {cause}) + line;
}

void ComposeVersionStrings(VersionStringMap& map, std::u16string_view name,
                           std::u16string_view version, std::u16string_view passString) {
  map.try_emplace(u"PrivateBuild", passString);
  std::u16string comment = u"Created using ";
  comment += map[u"InternalName"];
  comment += u" version ";
  comment += map[u"FileVersion"];
  map.insert_or_assign(u"Comments", comment);
  std::u16string label = std::u16string(name) + u" Package";
  map.insert_or_assign(u"ProductName", label);
  map.insert_or_assign(u"FileDescription", label);
  map.insert_or_assign(u"ProductVersion", std::u16string(version));
  map.insert_or_assign(u"FileVersion", std::u16string(version));
}

std::optional<VersionUpdateFailure> UpdateVersionResourceWith(pe::ImageFile& image,
                                                              const char16_t* name,
                                                              const char16_t* version,
                                                              const char16_t* passString) {
  if (!name) return Failure{Failure::Kind::NoName, 0, {}};
  if (!version) return Failure{Failure::Kind::NoVersion, 0, {}};
  VersionStringMap map;
  std::array<uint8_t, kFixedRecordSize> fixedRecord = {};
  if (!ReadVersionStrings(image, fixedRecord, map)) {
    return Failure{Failure::Kind::NoVersionInformation, 0, {}};
  }
  ComposeVersionStrings(map, name, version, passString ? passString : u"");
  uint32_t mostSignificant = 0;
  uint32_t leastSignificant = 0;
  ParseVersionNumbers(version, &mostSignificant, &leastSignificant);
  StoreVersionNumbers(fixedRecord, mostSignificant, leastSignificant);
  auto block = BuildVersionInfoBlock(fixedRecord, map);
  if (!block) return Failure{Failure::Kind::TooLarge, 0, {}};
  return WriteVersionResource(image, *block);
}
