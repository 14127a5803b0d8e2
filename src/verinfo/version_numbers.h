#pragma once
// The version numbers of the fixed version record, taken from a version text.

#include <cstdint>
#include <span>

#include "verinfo/version_block.h"

// Splits text at ".", "-" and "," (runs of separators count as one, leading
// ones are skipped) and converts the first four fields a, b, c, d as decimal
// integers, keeping the low 16 bits of each; a missing field is 0.
// *mostSignificant = a * 65536 + b, *leastSignificant = c * 65536 + d.
// A null text counts as the empty text.
void ParseVersionNumbers(const char16_t* text, uint32_t* mostSignificant,
                         uint32_t* leastSignificant);

// Stores the numbers as both the file and the product version of a fixed record.
void StoreVersionNumbers(std::span<uint8_t, kFixedRecordSize> fixedRecord,
                         uint32_t mostSignificant, uint32_t leastSignificant);
