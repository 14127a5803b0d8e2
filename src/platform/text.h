#pragma once
// Text conversions between the encodings the tool meets: UTF-16 for names and
// texts, UTF-8 for paths and the console, and the process locale's charset for
// what the original system kept in its ANSI code page.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Strict conversions; nullopt on malformed input.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

// Lenient forms for display and paths: malformed units become U+FFFD.
std::u16string Widen(std::string_view utf8);
void AppendUtf8AsUtf16(std::u16string& out, std::string_view utf8);
std::string Narrow(std::u16string_view utf16);

// The charset of the process locale, as set by setlocale(LC_ALL, ""). The
// plain "C" locale is taken as UTF-8, a superset of its ASCII, since that is
// how Linux tools store names.
std::string LocaleCharset();

// Converts UTF-16 text to the locale charset; nullopt when it cannot be
// represented there.
std::optional<std::string> WideToLocale(std::u16string_view text);

// Converts between any charset iconv knows and UTF-16; nullopt on failure.
std::optional<std::u16string> DecodeCharset(std::string_view bytes, const char* charset);

}  // namespace platform
