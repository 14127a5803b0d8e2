#pragma once
// Where every section of an image goes when its resources are replaced by a
// resource section of a new size, planned before any byte moves; and how the
// file offsets and addresses of the old image map to the new one.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <string>

#include "pe/image_references.h"
#include "pe/pe_image.h"

namespace pe {

struct ImageLayout {
  std::vector<SectionHeader> before;  // the old section table
  std::vector<SectionHeader> after;   // the new one; an added section comes last
  std::size_t resource = 0;           // index in `after` of the new resource section
  bool reused = false;                // it is the old resource section, rewritten
  uint32_t sizeOfHeaders = 0;
  // The old file in pieces: [0, firstRaw) stays where it is; the section
  // data up to the old resource section's raw data moves by headerShift, and
  // what follows that data by headerShift + growth; the overlay, from oldEnd
  // on, lands behind newEnd.
  uint64_t firstRaw = 0;
  uint64_t resourceStart = 0;
  uint64_t resourceEnd = 0;
  uint64_t oldEnd = 0;
  uint64_t newEnd = 0;
  uint64_t headerShift = 0;
  int64_t growth = 0;
  // A certificate table in the overlay, which the new file leaves out.
  FileRange certificates;

  uint64_t MapOffset(uint64_t offset) const;
  uint32_t MapRva(uint32_t rva) const;
};

// Plans the new resource section (resourceSize bytes) in the order the
// platform's own resource update prefers: in place; grown into the address
// room before the next section, later file data moving; grown with the
// sections behind it moved up where nothing can refer to them; as a new
// section, in room the headers have or can be given. A section the image's
// references pin keeps its place, and when they could not all be read
// (use.scan) no byte of the image moves: only a new section in the headers'
// present room is left. `file` holds the image of a file of fileSize bytes.
// nullopt with *error = 122 when none of these works (and *cause, when
// given, says why if more than the room is at fault), 13 when the address
// space would overflow.
std::optional<ImageLayout> PlanLayout(const PeImage& image, std::span<const uint8_t> file,
                                      uint64_t fileSize, const ImageUse& use,
                                      uint64_t resourceSize, std::string* cause,
                                      uint32_t* error);

// The first section-aligned address behind the headers and every section:
// the image's size in memory.
uint64_t AddressBehind(const PeImage& image, const std::vector<SectionHeader>& sections);

}  // namespace pe
