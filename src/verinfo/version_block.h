#pragma once
// Composition of a VS_VERSION_INFO block: the version numbers taken from a
// version text, and the block's bytes from a fixed record and the strings.

#include <cstdint>
#include <optional>
#include <vector>

#include "verinfo/version_strings.h"

// Splits text at ".", "-" and "," (runs of separators count as one, leading
// ones are skipped) and converts the first four fields a, b, c, d as decimal
// integers, keeping the low 16 bits of each; a missing field is 0.
// *mostSignificant = a * 65536 + b, *leastSignificant = c * 65536 + d.
// A null text counts as the empty text.
void ParseVersionNumbers(const char16_t* text, uint32_t* mostSignificant,
                         uint32_t* leastSignificant);

// Stores the numbers as both the file and the product version of a fixed record.
void StoreVersionNumbers(uint8_t fixedRecord[kFixedRecordSize], uint32_t mostSignificant,
                         uint32_t leastSignificant);

// The block: root "VS_VERSION_INFO" with fixedRecord, one "StringFileInfo"
// with the table "040904b0" holding the map's strings in key order, and a
// "VarFileInfo" translation 0x0409 / 1200. Its size equals the root's length.
// nullopt when any length field would pass 65,535.
std::optional<std::vector<uint8_t>> BuildVersionInfoBlock(
    const uint8_t fixedRecord[kFixedRecordSize], const VersionStringMap& map);
