#pragma once
// UTF-16 text to 8-bit text in a Windows-style code page.

#include <cstddef>

// Code pages understood: 0 and 3 (the process locale's charset, standing in
// for the system's and the thread's ANSI code page) and 65001 (UTF-8).
inline constexpr unsigned kCodePageAnsi = 0;
inline constexpr unsigned kCodePageThreadAnsi = 3;
inline constexpr unsigned kCodePageUtf8 = 65001;

// Converts text, its terminating NUL included, into buffer of size bytes.
// Returns buffer, or null when either pointer is null, the text cannot be
// represented, the code page is unknown or the buffer is too small (its first
// byte is then 0 when size > 0).
char* WideToNarrow(char* buffer, const char16_t* text, std::size_t size, unsigned codePage);
