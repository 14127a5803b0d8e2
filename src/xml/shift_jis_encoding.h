#pragma once
// Shift-JIS for the parser: documents that declare it are described to Expat
// through a byte map and a converter for two-byte sequences. Pairs are decoded
// as code page 932 whatever the process locale, so a document reads the same
// on every machine.

#include <expat.h>

#include <array>

// One entry per byte: the character it stands for, -1 for a malformed byte,
// -2 for the first byte of a two-byte sequence.
extern const std::array<int, 256> ShiftJisByteMap;

// Fills info for "SHIFT_JIS" (any letter case) and returns 1; returns 0 and
// leaves info untouched for every other name. handlerData is ignored.
int XMLCALL OnUnknownEncoding(void* handlerData, const XML_Char* name, XML_Encoding* info);

// The UTF-16 unit for the two bytes at bytes, or -1 when the pair is not a
// code page 932 character of the Basic Multilingual Plane.
int XMLCALL ConvertShiftJisPair(void* data, const char* bytes);
