#pragma once

#include <cstddef>
#include <string>

// Appends UTF-8 text as UTF-16 to out. The parser hands over well-formed UTF-8
// only; anything else becomes U+FFFD rather than failing the document.
void AppendUtf8AsUtf16(std::u16string& out, const char* data, std::size_t size);
