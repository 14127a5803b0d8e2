#pragma once
// UTF-8 and UTF-16: UTF-16 for names and texts, UTF-8 for paths and the
// console. Pure conversions, the same on every system.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Strict conversions; nullopt on malformed input (a malformed UTF-8 sequence,
// a lone surrogate).
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

// Lenient forms for display and paths: each malformed sequence or lone
// surrogate becomes U+FFFD, and everything around it converts as usual.
std::u16string Widen(std::string_view utf8);
void AppendUtf8AsUtf16(std::u16string& out, std::string_view utf8);
std::string Narrow(std::u16string_view utf16);

// Lossless forms for names the system hands over (WTF-8): a lone surrogate
// travels as the three bytes UTF-8 would give its code point, so a file name
// that is not valid UTF-16 still names the same file after a round trip.
// Other malformed UTF-8 becomes U+FFFD.
std::string Utf16ToWtf8(std::u16string_view utf16);
std::u16string Wtf8ToUtf16(std::string_view wtf8);

}  // namespace platform
