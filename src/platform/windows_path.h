#pragma once
// The tool's UTF-8 paths as the UTF-16 paths the Windows API takes, and the
// handle type behind FileHandle::Native(). Internal to the Windows sources of
// this folder.

#include <windows.h>

#include <string>

#include "platform/file_handle.h"

namespace platform {

// The path in UTF-16, decoded as WTF-8 so that a name holding a lone
// surrogate reaches the same file. A path whose full form reaches MAX_PATH is
// given as "\\?\" plus its full form, which the system takes at any length.
std::wstring WindowsPath(const std::string& path);

inline HANDLE NativeHandle(const FileHandle& file) {
  return reinterpret_cast<HANDLE>(file.Native());
}

}  // namespace platform
