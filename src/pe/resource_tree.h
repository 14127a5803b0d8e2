#pragma once
// The resource directory of an image as a flat list of leaves (type, name,
// language), read with every offset checked, and the ordering the loader's
// search expects.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pe/pe_image.h"
#include "pe/resource_update.h"

namespace pe {

struct ResourceLeaf {
  ResourceName type;
  ResourceName name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::span<const uint8_t> data;  // borrowed from the image buffer or the update's store
};

bool SameName(const ResourceName& a, const ResourceName& b);
// Named entries first, by UTF-16 code units, then numeric ids ascending.
bool NameLess(const ResourceName& a, const ResourceName& b);
// Order of leaves in a laid-out directory: type, then name, then language.
bool LeafLess(const ResourceLeaf& a, const ResourceLeaf& b);

// True when the image declares a resource directory.
bool HasResourceDirectory(const PeImage& image);

// Reads every leaf of the image's resource directory (none when it has no
// directory). nullopt with *error = 13 when the directory is malformed: an
// offset out of range, a table reached twice (a loop), a leaf where a table
// belongs or the other way round.
std::optional<std::vector<ResourceLeaf>> ReadResources(const PeImage& image,
                                                       std::span<const uint8_t> file,
                                                       uint32_t* error);

}  // namespace pe
