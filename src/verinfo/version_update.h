#pragma once
// Rewrites an executable's version resource so that it describes a package:
// the stub's own version information, reworked with the package's name and
// version, a comment naming the stub and the pass string.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pe/image_file.h"
#include "verinfo/version_string_map.h"

// Turns the stub's strings into the package's: "PrivateBuild" (pass string,
// unless present), "Comments" ("Created using <InternalName> version
// <FileVersion>", adding either key empty when absent), "ProductName" and
// "FileDescription" (name + " Package"), "ProductVersion" and "FileVersion".
void ComposeVersionStrings(VersionStringMap& map, std::u16string_view name,
                           std::u16string_view version, std::u16string_view passString);

// Why a version update failed, and the tool's line for it.
struct VersionUpdateFailure {
  enum class Kind { NoName, NoVersion, NoVersionInformation, TooLarge, UpdateFailed };
  Kind kind;
  uint32_t code = 0;  // the failed step's error code, for UpdateFailed
  std::string cause;  // what made it fail, when more can be said than the code
  // The lines as the tool prints them (the cause first); output names the file.
  std::string Message(std::string_view output) const;
};

// Reads the version information of image (the output, a copy of the stub),
// composes the package's and stores it as RT_VERSION / 1 under language
// 1033, and under language 0 too when the file has such an entry, writing the
// image back once. Prints nothing: on failure leaves the file unchanged and
// tells why. A null name or version is refused; a null pass string counts as
// empty.
std::optional<VersionUpdateFailure> UpdateVersionResourceWith(pe::ImageFile& image,
                                                              const char16_t* name,
                                                              const char16_t* version,
                                                              const char16_t* passString);
