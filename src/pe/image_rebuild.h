#pragma once
// Writes an image anew with a new set of resources.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pe/image_file.h"
#include "pe/pe_image.h"
#include "pe/resource_tree.h"

namespace pe {

struct RebuiltImage {
  std::vector<uint8_t> image;      // headers and sections
  std::vector<FileRange> overlay;  // the pieces of the old file that follow them
  std::optional<uint32_t> checksumField;  // where the checksum of the whole goes
};

// The image whose first bytes are `held` (at least its headers and sections)
// in a file of fileSize bytes, with `leaves` as its only resources, its
// headers made consistent, any certificate table dropped and the bytes behind
// the image kept behind the new end. nullopt with *error: 13 for inconsistent
// section headers, 8 when the section would be too large, 122 when a new
// section is needed and the headers have no room for its header.
std::optional<RebuiltImage> RebuildImage(std::span<const uint8_t> held, uint64_t fileSize,
                                         const PeImage& image,
                                         const std::vector<ResourceLeaf>& leaves, uint32_t* error);

}  // namespace pe
