#pragma once
// The tables of the Data Encryption Standard (FIPS 46-3). Every permutation
// entry is a 1-based input bit number, bit 1 being the most significant bit
// of the first byte.

#include <cstdint>

namespace des_tables {

extern const uint8_t kInitialPermutation[64];
extern const uint8_t kFinalPermutation[64];  // the inverse of the initial one
extern const uint8_t kExpansion[48];
extern const uint8_t kPermutation[32];
extern const uint8_t kPermutedChoice1[56];
extern const uint8_t kPermutedChoice2[48];
extern const uint8_t kSubstitution[8][4][16];  // S1..S8, [row][column]
extern const uint8_t kRotations[16];

}  // namespace des_tables
