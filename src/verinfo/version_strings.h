#pragma once
// The stub's version information as the version update needs it: its fixed
// version record and the strings of its own string table.

#include <cstdint>
#include <span>

#include "pe/image_file.h"
#include "verinfo/version_block.h"
#include "verinfo/version_string_map.h"

// Reads the version information of image. Copies its fixed record into
// fixedRecord (only when present; true exactly then) and adds each of the ten
// usual strings found in the stub's table to map, unless the key is already
// there. The stub's table is "040904b0" (letter case ignored, as Windows'
// reader ignores it); without one, the table its Translation value names
// first; without that, its first string table. Strings may have been added even when the result is false.
bool ReadVersionStrings(const pe::ImageFile& image,
                        std::span<uint8_t, kFixedRecordSize> fixedRecord, VersionStringMap& map);
