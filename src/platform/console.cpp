#include "platform/console.h"

namespace platform {

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(format.size() + 64);
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (next != args.end()) out.append(*next++);
      ++i;
    } else {
      out.push_back(format[i]);
    }
  }
  return out;
}

void ConsolePrint(std::string_view format, std::initializer_list<std::string_view> args) {
  ConsoleWrite(FormatText(format, args));
}

}  // namespace platform
