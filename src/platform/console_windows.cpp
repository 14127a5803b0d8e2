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

// A console takes UTF-16, whatever its code page, so every name shows.
void WriteToConsole(HANDLE console, std::string_view text) {
  const std::u16string wide = WithCrLf(Wtf8ToUtf16(text));
  std::size_t done = 0;
  while (done < wide.size()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
    if (!::WriteConsoleW(console, wide.data() + done, chunk, &written, nullptr) || written == 0) {
      return;
    }
    done += written;
  }
}

// A file or a pipe gets the UTF-8 bytes. A failed write (a reader that went
// away) loses the rest of the line and nothing else.
void WriteToFile(HANDLE file, std::string_view text) {
  const std::string bytes = WithCrLf(std::string(text));
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return;
    done += written;
  }
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
