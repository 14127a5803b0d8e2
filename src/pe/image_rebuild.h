#pragma once
// Writes an image anew with a new set of resources.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "pe/pe_image.h"
#include "pe/resource_tree.h"

namespace pe {

// Where the new resource section goes.
enum class Placement {
  InPlace,        // the old resource section holds it
  Grow,           // the old resource section is the last one and grows
  GrowMoveReloc,  // it grows and the .reloc section behind it moves up
  NewSection,     // a new section at the end of the image; the old one stays unused
};

// The image of `file` with `leaves` as its only resources, its headers made
// consistent, any certificate table dropped and the bytes behind the image
// kept behind the new end. nullopt with *error: 13 for inconsistent section
// headers, 8 when the section would be too large, 122 when a new section is
// needed and the headers have no room for its header.
std::optional<std::vector<uint8_t>> RebuildImage(std::span<const uint8_t> file, const PeImage& image,
                                          const std::vector<ResourceLeaf>& leaves,
                                          uint32_t* error);

}  // namespace pe
