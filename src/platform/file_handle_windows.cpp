#include <algorithm>
#include <climits>
#include <utility>

#include "platform/file_handle.h"
#include "platform/windows_path.h"

namespace platform {

namespace {

// ReadFile and WriteFile take 32-bit counts.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

DWORD DesiredAccess(Access access) {
  switch (access) {
    case Access::Read: return GENERIC_READ;
    case Access::Write: return GENERIC_WRITE;
    case Access::ReadWrite: return GENERIC_READ | GENERIC_WRITE;
  }
  return 0;
}

OVERLAPPED At(uint64_t position) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(position);
  at.OffsetHigh = static_cast<DWORD>(position >> 32);
  return at;
}

// Makes room for a new file at path. A link goes by its name alone, never
// followed; a read-only file, a directory or a file another handle holds
// stays, and the reason is the error code.
bool RemoveForReplacement(const std::wstring& path, uint32_t* error) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD why = ::GetLastError();
    // Nothing there: the creation tells whether the folder exists.
    if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) return true;
    *error = why;
    return false;
  }
  BOOL removed = FALSE;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A directory link goes as a directory, a file link as a file; both
    // remove the link itself.
    removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str())
                                                      : ::DeleteFileW(path.c_str());
  } else if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    *error = kErrorAccessDenied;
    return false;
  } else {
    // Fails with a sharing violation while another handle holds the file.
    removed = ::DeleteFileW(path.c_str());
  }
  if (!removed && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    *error = ::GetLastError();
    return false;
  }
  return true;
}

// Regular files only: a device (NUL, CON, COM1) or a pipe opens under any
// name and any disposition, so it is told by its type once open. A read-only
// file opened for writing is refused here too, for the callers the system
// lets through (Wine run as root).
bool Refused(HANDLE handle, Access access) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info)) {
    return true;
  }
  const bool readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
         (readOnly && access != Access::Read);
}

HANDLE OpenNative(const std::string& path, Access access, Share share, Disposition disposition,
                  uint32_t* error) {
  const std::wstring wide = WindowsPath(path);
  if (disposition == Disposition::CreateAlways && !RemoveForReplacement(wide, error)) {
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE handle = ::CreateFileW(
      wide.c_str(), DesiredAccess(access), share == Share::Read ? FILE_SHARE_READ : 0, nullptr,
      disposition == Disposition::CreateAlways ? CREATE_NEW : OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = ::GetLastError();
    return INVALID_HANDLE_VALUE;
  }
  if (Refused(handle, access)) {
    ::CloseHandle(handle);
    *error = kErrorAccessDenied;
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

// Repeats a ReadFile or WriteFile call, in pieces its 32-bit count can state,
// until count bytes are done, the file ends or the call fails; the number of
// bytes done, or nullopt with *error.
template <class Call>
std::optional<std::size_t> TransferAll(std::size_t count, uint32_t* error, Call call) {
  std::size_t done = 0;
  while (done < count) {
    const auto want = static_cast<DWORD>(std::min(count - done, kLargestTransfer));
    DWORD moved = 0;
    if (!call(done, want, &moved)) {
      // A positional read from the end on is an error code, not a zero count.
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      *error = ::GetLastError();
      return std::nullopt;
    }
    if (moved == 0) break;
    done += moved;
  }
  return done;
}

}  // namespace

bool FileHandle::Open(const std::string& path, Access access, Share share,
                      Disposition disposition) {
  Close();
  lastError_ = kErrorSuccess;
  const HANDLE handle = OpenNative(path, access, share, disposition, &lastError_);
  if (handle == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(handle);
  return true;
}

void FileHandle::Close() {
  if (IsOpen()) {
    ::CloseHandle(NativeHandle(*this));
    handle_ = kInvalid;
  }
}

std::optional<std::size_t> FileHandle::ReadAt(uint64_t position, void* buffer,
                                              std::size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  return TransferAll(count, &lastError_, [&](std::size_t done, DWORD want, DWORD* got) {
    OVERLAPPED at = At(position + done);
    return ::ReadFile(NativeHandle(*this), out + done, want, got, &at);
  });
}

bool FileHandle::Write(const void* buffer, std::size_t count) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  const auto write = [&](std::size_t done, DWORD want, DWORD* put) {
    return ::WriteFile(NativeHandle(*this), in + done, want, put, nullptr);
  };
  return AllWritten(count, TransferAll(count, &lastError_, write));
}

bool FileHandle::WriteAt(uint64_t position, const void* buffer, std::size_t count) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  const auto write = [&](std::size_t done, DWORD want, DWORD* put) {
    OVERLAPPED at = At(position + done);
    return ::WriteFile(NativeHandle(*this), in + done, want, put, &at);
  };
  return AllWritten(count, TransferAll(count, &lastError_, write));
}

std::optional<uint64_t> FileHandle::Size() const {
  LARGE_INTEGER size{};
  if (!IsOpen() || !::GetFileSizeEx(NativeHandle(*this), &size)) return std::nullopt;
  return static_cast<uint64_t>(size.QuadPart);
}

bool FileHandle::Truncate(uint64_t size) {
  if (size > static_cast<uint64_t>(INT64_MAX)) {
    lastError_ = kErrorInvalidParameter;
    return false;
  }
  // The end of the file is set at the current position.
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFilePointerEx(NativeHandle(*this), to, nullptr, FILE_BEGIN) ||
      !::SetEndOfFile(NativeHandle(*this))) {
    lastError_ = ::GetLastError();
    return false;
  }
  return true;
}

std::optional<FileIdentity> FileHandle::Identity() const {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!IsOpen() || !::GetFileInformationByHandle(NativeHandle(*this), &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

}  // namespace platform
