#pragma once
// The stub's version information as the version update needs it: its fixed
// version record and the strings of its U.S. English / UTF-16 string table.

#include <cstdint>
#include <span>

#include "pe/image_file.h"
#include "verinfo/version_block.h"
#include "verinfo/version_string_map.h"

// Reads the version information of image. Copies its fixed record into
// fixedRecord (only when present; true exactly then) and adds each of the ten
// usual strings found in the "040904b0" table to map, unless the key is
// already there. Strings may have been added even when the result is false.
bool ReadVersionStrings(const pe::ImageFile& image,
                        std::span<uint8_t, kFixedRecordSize> fixedRecord, VersionStringMap& map);
