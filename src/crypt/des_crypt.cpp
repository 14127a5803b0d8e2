#include "crypt/des_crypt.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "crypt/des_tables.h"

namespace {

// Bit n (1-based, most significant bit of byte 0 first) of a byte string.
int GetBit(const uint8_t* bytes, int n) {
  const int i = n - 1;
  return (bytes[i / 8] >> (7 - i % 8)) & 1;
}

void SetBit(uint8_t* bytes, int n, int value) {
  const int i = n - 1;
  const uint8_t mask = static_cast<uint8_t>(0x80u >> (i % 8));
  if (value) {
    bytes[i / 8] |= mask;
  } else {
    bytes[i / 8] &= static_cast<uint8_t>(~mask);
  }
}

bool HasOddParity(uint8_t b) { return std::popcount(b) % 2 != 0; }

// Rotates the 28-bit half starting at bit `first` of the 56-bit key left by `places`.
void RotateHalf(uint8_t cd[7], int first, int places) {
  for (int p = 0; p < places; ++p) {
    const int leading = GetBit(cd, first);
    for (int n = first; n < first + 27; ++n) SetBit(cd, n, GetBit(cd, n + 1));
    SetBit(cd, first + 27, leading);
  }
}

// The cipher function f(R, K): expand, add the key, substitute, permute.
void Feistel(const uint8_t right[4], const uint8_t key[6], uint8_t out[4]) {
  uint8_t expanded[6];
  DesCrypt::PermuteBits(des_tables::kExpansion, 48, right, expanded);
  for (int i = 0; i < 6; ++i) expanded[i] ^= key[i];
  uint8_t substituted[4] = {};
  for (int box = 0; box < 8; ++box) {
    const int first = box * 6 + 1;
    const int row = GetBit(expanded, first) * 2 + GetBit(expanded, first + 5);
    int column = 0;
    for (int n = first + 1; n <= first + 4; ++n) column = column * 2 + GetBit(expanded, n);
    const int value = des_tables::kSubstitution[box][row][column];
    for (int b = 0; b < 4; ++b) SetBit(substituted, box * 4 + b + 1, (value >> (3 - b)) & 1);
  }
  DesCrypt::PermuteBits(des_tables::kPermutation, 32, substituted, out);
}

}  // namespace

bool HasOddParityByte(const uint8_t key[8]) { return std::any_of(key, key + 8, HasOddParity); }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  throw DesCryptException(kDesBadDigitMessage);
}

bool DesCrypt::MakeKey(const char* keyText, uint8_t key[8]) {
  std::memset(key, ' ', 8);
  if (keyText != nullptr) std::memcpy(key, keyText, ::strnlen(keyText, 8));
  if (!HasOddParityByte(key) && (key[0] & 0x80) != 0) key[0] &= 0x7F;
  return HasOddParityByte(key);
}

bool DesCrypt::SetKey(const uint8_t key[8]) {
  if (!ignoreParity && !std::all_of(key, key + 8, HasOddParity)) return false;
  uint8_t cd[7];
  PermuteBits(des_tables::kPermutedChoice1, 56, key, cd);
  for (int round = 0; round < 16; ++round) {
    RotateHalf(cd, 1, des_tables::kRotations[round]);
    RotateHalf(cd, 29, des_tables::kRotations[round]);
    PermuteBits(des_tables::kPermutedChoice2, 48, cd, roundKeys[round]);
  }
  return true;
}

void DesCrypt::DecryptBlock(const uint8_t keys[16][6], const uint8_t in[8], uint8_t out[8]) {
  uint8_t block[8];
  PermuteBits(des_tables::kInitialPermutation, 64, in, block);
  // Each round makes L' = R and R' = L ^ f(R, K): the left half takes in f,
  // then the halves trade names.
  uint8_t* left = block;
  uint8_t* right = block + 4;
  for (int round = 0; round < 16; ++round) {
    uint8_t f[4];
    Feistel(right, keys[round], f);
    for (int i = 0; i < 4; ++i) left[i] ^= f[i];
    std::swap(left, right);
  }
  // The halves are swapped once more before the final permutation.
  std::swap_ranges(block, block + 4, block + 4);
  PermuteBits(des_tables::kFinalPermutation, 64, block, out);
}

void DesCrypt::PermuteBits(const uint8_t* table, int count, const uint8_t* in, uint8_t* out) {
  std::memset(out, 0, static_cast<std::size_t>(count / 8));
  for (int i = 1; i <= count; ++i) SetBit(out, i, GetBit(in, table[i - 1]));
}

void DesCrypt::DecryptHex(const char* text, std::vector<uint8_t>* result,
                          uint32_t* resultLength) const {
  const std::size_t n = text == nullptr ? 0 : std::strlen(text);
  if (n % 16 != 0) throw DesCryptException(kDesBadLengthMessage);
  if (result == nullptr) throw DesCryptException(kDesBadOutputMessage);
  std::vector<uint8_t> cipher(n / 2);
  for (std::size_t i = 0; i < cipher.size(); ++i) {
    cipher[i] =
        static_cast<uint8_t>(HexDigitValue(text[2 * i]) * 16 + HexDigitValue(text[2 * i + 1]));
  }
  uint8_t reversed[16][6];
  for (int round = 0; round < 16; ++round) std::memcpy(reversed[round], roundKeys[15 - round], 6);
  std::vector<uint8_t> plain(cipher.size());
  for (std::size_t at = 0; at < cipher.size(); at += 8) {
    DecryptBlock(reversed, &cipher[at], &plain[at]);
  }
  if (resultLength != nullptr) *resultLength = static_cast<uint32_t>(plain.size());
  *result = std::move(plain);
}
