#pragma once
// Console output. Every line of the tool goes through here, to standard
// output, in the order written, and reaches it at once: a run that dies
// leaves its last line in the log. POSIX: UTF-8 as it stands.

#include <initializer_list>
#include <string>
#include <string_view>

namespace platform {

// Substitutes each "%s" of format, in order, with the next argument; other
// text is copied as it stands. Missing arguments leave "%s" empty.
std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args);

// Writes text (UTF-8) to standard output and flushes it.
void ConsoleWrite(std::string_view text);

// FormatText, then ConsoleWrite.
void ConsolePrint(std::string_view format, std::initializer_list<std::string_view> args = {});

}  // namespace platform
