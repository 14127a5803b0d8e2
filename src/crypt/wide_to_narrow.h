#pragma once
// UTF-16 text to 8-bit text in a code page of the tool's home system
// (platform/code_page.h names them).

#include <cstddef>

#include "platform/code_page.h"

using platform::kCodePageThreadAnsi;

// Converts text, its terminating NUL included, into buffer of size bytes.
// Returns buffer, or null when either pointer is null, the text cannot be
// represented, the code page is unknown or the buffer is too small (its first
// byte is then 0 when size > 0).
char* WideToNarrow(char* buffer, const char16_t* text, std::size_t size, unsigned codePage);
