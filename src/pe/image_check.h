#pragma once
// Checks of an image held in memory that read it as the loader and Windows'
// resource and version readers do, reporting what is wrong as values: what,
// and where (a file offset). The rebuild reads its result back with them; a
// check of a finished package can run the same.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pe/pe_image.h"

namespace pe {

struct ImageFinding {
  std::string what;
  uint64_t where = 0;  // file offset of the field or structure at fault
};

// The section table as a rebuild needs it: held by the headers, sections in
// ascending address order, their raw data behind the headers, inside the
// file and apart from each other. The first fault found.
std::optional<ImageFinding> SectionTableFault(const PeImage& image, uint64_t fileSize);

// The image whose first bytes are `image` (its headers and sections) in a
// file of fileSize bytes: headers that parse, SizeOfHeaders and SizeOfImage
// that hold, a sound section table, data directories inside the image (the
// certificate table inside the file), and a resource tree without loops
// whose leaves lie where the loader reads. Empty when all holds.
std::vector<ImageFinding> CheckImage(std::span<const uint8_t> image, uint64_t fileSize);

// What a rebuilt image must show besides.
struct RebuildExpectation {
  uint32_t resourceRva = 0;   // the new resource section's address and the directory's size
  uint32_t resourceSize = 0;
  uint32_t sizeOfHeaders = 0;
  // The version block that Windows' reader is to find, when one was written.
  std::optional<std::vector<uint8_t>> versionBlock;
};

// CheckImage, and: the resource directory names the new resource section,
// the certificate entry is cleared, SizeOfHeaders is the planned one, and the
// version resource found where Windows looks holds the expected block.
std::vector<ImageFinding> CheckRebuiltImage(std::span<const uint8_t> image, uint64_t fileSize,
                                            const RebuildExpectation& expected);

}  // namespace pe
