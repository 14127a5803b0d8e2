#pragma once
// Shift-JIS for the parser: documents that declare it are described to Expat
// through a byte map and a converter for two-byte sequences. Pairs are decoded
// as code page 932 whatever the process locale, so a document reads the same
// on every machine.

#include <expat.h>

// Fills info for "SHIFT_JIS" (any letter case) and returns 1; returns 0 and
// leaves info untouched for every other name. handlerData is ignored.
int XMLCALL OnUnknownEncoding(void* handlerData, const XML_Char* name, XML_Encoding* info);
