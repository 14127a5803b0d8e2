#pragma once
// Deciphers protected text: hexadecimal digits, two to a byte, of blocks
// enciphered with standard DES in electronic-codebook mode.

#include <cstdint>
#include <vector>

#include "crypt/des_crypt_exception.h"

struct DesCrypt {
  // K1..K16, 48 bits each, most significant bit first.
  uint8_t roundKeys[16][6] = {};
  // When true, SetKey accepts keys whose bytes do not all have odd parity.
  bool ignoreParity = false;

  // Cuts or pads (with spaces) keyText to 8 bytes. When no byte then has odd
  // parity, the first byte loses its top bit. Returns HasOddParityByte of the
  // final key. A null keyText is taken as empty.
  static bool MakeKey(const char* keyText, uint8_t key[8]);

  // Schedules the round keys. false, with the old round keys kept, when the
  // parity check is on and some byte has an even number of one bits.
  bool SetKey(const uint8_t key[8]);

  // Deciphers text (up to its first NUL) into *result; stores the byte count
  // in *resultLength when that is not null. Throws DesCryptException for a
  // length that is not a multiple of 16, a null result and a non-digit, in that
  // order of checking; on a throw neither output is written. A null text is
  // taken as empty.
  void DecryptHex(const char* text, std::vector<uint8_t>* result,
                  uint32_t* resultLength) const;

  // The DES block operation with the round keys in the order given: K16..K1
  // deciphers, K1..K16 enciphers.
  static void DecryptBlock(const uint8_t keys[16][6], const uint8_t in[8], uint8_t out[8]);

  // Clears count/8 output bytes, then sets output bit i (1-based, most
  // significant first) to input bit table[i-1], for i = 1..count.
  static void PermuteBits(const uint8_t* table, int count, const uint8_t* in, uint8_t* out);
};

// 0..15 for a hexadecimal digit of either case; throws DesCryptException otherwise.
int HexDigitValue(char c);

// True when at least one of the 8 bytes has an odd number of one bits.
bool HasOddParityByte(const uint8_t key[8]);
