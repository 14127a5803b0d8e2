#include <cstdio>

#include "platform/console.h"

namespace platform {

void ConsoleWrite(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace platform
