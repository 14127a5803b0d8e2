#pragma once
// Conversions between UTF-16 and the 8-bit code pages of the tool's home
// system. On POSIX systems the ANSI code page is the charset of the process
// locale (after setlocale(LC_ALL, "")), the plain "C" locale taken as UTF-8,
// since that is how Linux tools store names; named code pages go through iconv.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr unsigned kCodePageAnsi = 0;
inline constexpr unsigned kCodePageThreadAnsi = 3;
inline constexpr unsigned kCodePageShiftJis = 932;
inline constexpr unsigned kCodePageUtf8 = 65001;

// UTF-16 text in the code page; nullopt when it cannot be represented there or
// the code page is unknown.
std::optional<std::string> WideToCodePage(std::u16string_view text, unsigned codePage);

// Text in the code page as UTF-16; nullopt when it is malformed there or the
// code page is unknown.
std::optional<std::u16string> CodePageToWide(std::string_view bytes, unsigned codePage);

}  // namespace platform
