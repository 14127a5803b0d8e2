#include <string_view>

#include "platform/text.h"
#include "platform/windows_path.h"

namespace platform {

namespace {

constexpr std::wstring_view kVerbatim = L"\\\\?\\";
constexpr std::wstring_view kDevice = L"\\\\.\\";
constexpr std::wstring_view kUnc = L"\\\\";

std::wstring FullPath(const std::wstring& path) {
  DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full;
  while (size > full.size()) {
    full.resize(size);
    size = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  }
  full.resize(size);
  return full;
}

}  // namespace

std::wstring WindowsPath(const std::string& path) {
  const std::u16string utf16 = Wtf8ToUtf16(path);
  std::wstring wide(utf16.begin(), utf16.end());
  if (wide.empty() || wide.starts_with(kVerbatim) || wide.starts_with(kDevice)) return wide;
  // Relative paths count too: the system resolves them against the current
  // directory and refuses the result past the limit.
  const std::wstring full = FullPath(wide);
  if (full.size() < MAX_PATH) return wide;
  if (full.starts_with(kUnc)) return std::wstring(kVerbatim) + L"UNC\\" + full.substr(kUnc.size());
  return std::wstring(kVerbatim) + full;
}

}  // namespace platform
