#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/console.h"
#include "platform/text.h"

namespace platform {

namespace {

// Line ends as the C runtime's text mode writes them.
template <class String>
String WithCrLf(const String& text) {
  String out;
  out.reserve(text.size() + text.size() / 16);
  for (auto c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

// Hands text to write in pieces of at most piece units until all of it is
// written; a failed write loses the rest of the line and nothing else.
template <class String, class Write>
void WriteAll(const String& text, std::size_t piece, Write write) {
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min(text.size() - done, piece));
    if (!write(text.data() + done, chunk, &written) || written == 0) return;
    done += written;
  }
}

// A console takes UTF-16, whatever its code page, so every name shows.
void WriteToConsole(HANDLE console, std::string_view text) {
  WriteAll(WithCrLf(Wtf8ToUtf16(text)), 8192, [console](const char16_t* units, DWORD n, DWORD* w) {
    return ::WriteConsoleW(console, units, n, w, nullptr);
  });
}

// A file or a pipe gets the UTF-8 bytes (a reader may have gone away).
void WriteToFile(HANDLE file, std::string_view text) {
  WriteAll(WithCrLf(std::string(text)), 1 << 20, [file](const char* bytes, DWORD n, DWORD* w) {
    return ::WriteFile(file, bytes, n, w, nullptr);
  });
}

}  // namespace

// Straight to the handle, unbuffered: each line is out when this returns.
void ConsoleWrite(std::string_view text) {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode = 0;
  if (::GetConsoleMode(out, &mode)) {
    WriteToConsole(out, text);
  } else {
    WriteToFile(out, text);
  }
}

}  // namespace platform
