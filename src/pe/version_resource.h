#pragma once
// Where an image keeps its version information: the data of its RT_VERSION
// resource, read the way the version-information interface of the image's
// home platform finds it.

#include <cstdint>
#include <vector>

#include "pe/image_file.h"
#include "pe/resource_tree.h"

namespace pe {

inline constexpr uint16_t kVersionResourceType = 16;  // RT_VERSION
inline constexpr uint16_t kVersionResourceName = 1;
inline constexpr uint16_t kLanguageNeutral = 0;
inline constexpr uint16_t kLanguageUsEnglish = 1033;

// The version resource among leaves, as Windows' reader picks it: type 16,
// name 1; language neutral preferred, then 1033, then the first present.
// Null when there is none; *typeFound tells whether type 16 exists at all.
const ResourceLeaf* FindVersionLeaf(const std::vector<ResourceLeaf>& leaves,
                                    bool* typeFound = nullptr);

// Loads the data of the image's version resource (type 16, name 1; language
// neutral preferred, then 1033, then the first present) into buffer. false,
// with *error (optional) set to a platform-style code, when there is none or
// the bytes are not a readable image: 13, 193, 1812 for "no resource
// section", 1813 "resource type not found", 1814 "name not found".
bool GetFileVersionInfo(const ImageFile& image, std::vector<uint8_t>& buffer,
                        uint32_t* error = nullptr);

}  // namespace pe
