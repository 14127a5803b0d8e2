#pragma once
// Writes an image anew with a new set of resources: planned first from the
// old image's bytes (nothing changes), then applied to those bytes in place,
// so that the image is held once.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pe/debug_directory.h"
#include "pe/image_check.h"
#include "pe/image_layout.h"
#include "pe/pe_image.h"
#include "pe/resource_tree.h"

namespace pe {

struct RebuildPlan {
  PeImage before;                  // the old headers
  ImageLayout layout;
  DebugDirectory debug;
  std::vector<uint8_t> resources;  // the new resource section's bytes
  std::vector<FileRange> overlay;  // the pieces of the old file that follow the new image
  std::optional<uint32_t> checksumField;  // where the checksum of the whole goes
  RebuildExpectation expected;     // what reading the new image back must find
};

// Plans the image whose first bytes are `held` (at least its headers and
// sections) in a file of fileSize bytes, with `leaves` as its only
// resources, its headers made consistent, any certificate table dropped and
// the bytes behind the image kept behind the new end. nullopt with *error:
// 13 for inconsistent section headers (and *cause naming what is wrong), 8
// when the section would be too large, 122 when a new section is needed and
// the headers have no room for its header.
std::optional<RebuildPlan> PlanRebuild(std::span<const uint8_t> held, uint64_t fileSize,
                                       const PeImage& image,
                                       const std::vector<ResourceLeaf>& leaves,
                                       std::string* cause, uint32_t* error);

// Turns `bytes`, the held image the plan was made from, into the new image.
// Every field is written through a checked writer: a write that misses the
// new image fails the rebuild (13, with *cause), and bytes are then neither
// the old image nor the new one.
uint32_t ApplyRebuild(std::vector<uint8_t>& bytes, const RebuildPlan& plan, std::string* cause);

}  // namespace pe
