// The Windows entry point. The arguments arrive as UTF-16 and go on as UTF-8
// (WTF-8, so that even a name with a lone surrogate comes through): no path
// ever passes through a code page.

#include <cwchar>
#include <string>
#include <vector>

#include "app/zipgraft_main.h"
#include "platform/process.h"
#include "platform/text.h"

extern "C" int wmain(int argc, wchar_t** argv) {
  if (!platform::PrepareProcess()) return 1;
  std::vector<std::string> args;
  args.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    const std::u16string wide(argv[i], argv[i] + std::wcslen(argv[i]));
    args.push_back(platform::Utf16ToWtf8(wide));
  }
  std::vector<const char*> pointers;
  for (const auto& arg : args) pointers.push_back(arg.c_str());
  pointers.push_back(nullptr);
  return RunZipgraft(argc, pointers.data());
}
