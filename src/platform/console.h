#pragma once
// Console output. Every line of the tool goes through here, as UTF-8 to
// standard output, in the order written.

#include <initializer_list>
#include <string>
#include <string_view>

namespace platform {

// Substitutes each "%s" of format, in order, with the next argument; other
// text is copied as it stands. Missing arguments leave "%s" empty.
std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args);

// Writes text to standard output as it stands.
void ConsoleWrite(std::string_view text);

// FormatText, then ConsoleWrite.
void ConsolePrint(std::string_view format, std::initializer_list<std::string_view> args = {});

}  // namespace platform
