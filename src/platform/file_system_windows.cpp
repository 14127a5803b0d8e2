#include "platform/file_system.h"
#include "platform/windows_path.h"

namespace platform {

namespace {

// Opens whatever is at path just to identify it: no data access, so no
// sharing mode of another handle stands in the way.
bool IdentityOf(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  const HANDLE handle = ::CreateFileW(WindowsPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = ::GetFileInformationByHandle(handle, info) != 0;
  ::CloseHandle(handle);
  return known;
}

}  // namespace

void DeleteFileQuietly(const std::string& path) { ::DeleteFileW(WindowsPath(path).c_str()); }

bool IsSameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia{}, ib{};
  return IdentityOf(a, &ia) && IdentityOf(b, &ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

// Windows keeps no permission bits on a file; what would stop the update of a
// copy is the read-only attribute, so that is what goes.
bool CopyPermissions(const FileHandle& /*source*/, FileHandle& target) {
  const HANDLE handle = NativeHandle(target);
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return false;
  if ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
  basic.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  // Zero times leave the times as they are.
  basic.CreationTime = basic.LastAccessTime = basic.LastWriteTime = basic.ChangeTime = {};
  return ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

void Beep(unsigned frequencyHz, unsigned durationMs) { ::Beep(frequencyHz, durationMs); }

}  // namespace platform
