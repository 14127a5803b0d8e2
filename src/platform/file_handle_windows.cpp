#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

#include "platform/file_handle.h"
#include "platform/windows_entry.h"
#include "platform/windows_path.h"

#include <winternl.h>

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

// The name the system keeps for what handle reaches, in its own form, which
// is the same for a folder and the files in it; empty when it cannot tell.
// Not GetFinalPathNameByHandleW: Wine's stops at MAX_PATH characters. Looked
// up at run time, so that the program imports no more than it did.
std::wstring ObjectName(HANDLE handle) {
  using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  constexpr int kObjectNameInformation = 1;
  // A UNICODE_STRING and room for the longest name; pointer-aligned.
  std::vector<ULONG_PTR> info(2 + 65536 / sizeof(ULONG_PTR));
  ULONG size = 0;
  if (query == nullptr || query(handle, kObjectNameInformation, info.data(),
                                static_cast<ULONG>(info.size() * sizeof(ULONG_PTR)), &size) < 0) {
    return {};
  }
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(info.data());
  return std::wstring(name->Buffer, name->Length / sizeof(wchar_t));
}

// ObjectName of the folder the entry at path stands in, with its separator;
// empty when the system cannot tell.
std::wstring FolderName(const std::wstring& path) {
  std::wstring full(::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr), L'\0');
  full.resize(::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(),
                                 nullptr));
  const auto slash = full.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  // A drive's root keeps its separator; any other folder is named without.
  std::wstring name = full.substr(0, slash);
  if (name.empty() || name.back() == L':') name += L'\\';
  const HANDLE folder = ::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return {};
  std::wstring named = ObjectName(folder);
  ::CloseHandle(folder);
  if (!named.empty() && named.back() != L'\\') named += L'\\';
  return named;
}

// Whether the entry at path, opened as itself, is a file of that folder under
// that name. Where the system shows a link as the file it points at (Wine,
// for a Linux symbolic link), the handle reaches the target, somewhere else.
bool IsEntryItself(const std::wstring& path, HANDLE entry) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  const std::wstring folder = FolderName(path);
  const std::wstring reached = ObjectName(entry);
  // The handle keeps the name it was opened by: the long one or the short one.
  const auto named = [&](const wchar_t* name) {
    const std::wstring expected = folder + name;
    return *name != L'\0' && ::CompareStringOrdinal(expected.c_str(), -1, reached.c_str(), -1,
                                                     TRUE) == CSTR_EQUAL;
  };
  return !folder.empty() && !reached.empty() &&
         (named(found.cFileName) || named(found.cAlternateFileName));
}

static_assert(kAttributeReadOnly == FILE_ATTRIBUTE_READONLY &&
              kAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY &&
              kAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT &&
              kReparseTagSymlink == IO_REPARSE_TAG_SYMLINK &&
              kReparseTagMountPoint == IO_REPARSE_TAG_MOUNT_POINT);

// The reparse tag of the entry, opened as itself; 0 when it has none.
DWORD ReparseTag(HANDLE entry, const BY_HANDLE_FILE_INFORMATION& info) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
      !::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof tag)) {
    return 0;
  }
  return tag.ReparseTag;
}

// Makes room for a new file at path. A link is removed as the link itself,
// through a handle to it; a read-only file, a directory, a file another
// handle holds, and a link the system cannot tell from its target stay, and
// the reason is the error code. A reparse point that is no link is the file
// or folder it stands for.
bool RemoveForReplacement(const std::wstring& path, uint32_t* error) {
  const HANDLE entry = ::CreateFileW(
      path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (entry == INVALID_HANDLE_VALUE) {
    const DWORD why = ::GetLastError();
    // Nothing there: the creation tells whether the folder exists.
    if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) return true;
    *error = why;  // a sharing violation while another handle holds the file
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  bool removable = ::GetFileInformationByHandle(entry, &info) != 0;
  if (removable) {
    switch (ReplacementOf(info.dwFileAttributes, ReparseTag(entry, info))) {
      case Replacement::kAsLink: break;
      case Replacement::kAsFile: removable = IsEntryItself(path, entry); break;
      case Replacement::kNever: removable = false; break;
    }
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  const bool removed = removable && ::SetFileInformationByHandle(entry, FileDispositionInfo,
                                                                 &disposition, sizeof disposition);
  if (removable && !removed) *error = ::GetLastError();
  if (!removable) *error = kErrorAccessDenied;
  ::CloseHandle(entry);
  return removed;
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
  // Files of the tool's own may be removed through their handle (Remove).
  const bool own = disposition != Disposition::OpenExisting;
  if (disposition == Disposition::CreateAlways && !RemoveForReplacement(wide, error)) {
    return INVALID_HANDLE_VALUE;
  }
  // A file of the tool's own is opened again as the entry itself, never
  // through a link.
  const DWORD link = disposition == Disposition::OpenOwn ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
  const HANDLE handle = ::CreateFileW(
      wide.c_str(), DesiredAccess(access) | (own ? DELETE : 0),
      share == Share::Read ? FILE_SHARE_READ : 0, nullptr,
      disposition == Disposition::CreateAlways ? CREATE_NEW : OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | link, nullptr);
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
  return ReadShared(position, buffer, count, &lastError_);
}

std::optional<std::size_t> FileHandle::ReadShared(uint64_t position, void* buffer,
                                                  std::size_t count, uint32_t* error) const {
  uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  auto* out = static_cast<unsigned char*>(buffer);
  return TransferAll(count, error, [&](std::size_t done, DWORD want, DWORD* got) {
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
  const auto stamp = Stamp();
  if (!stamp) return std::nullopt;
  return stamp->identity;
}

std::optional<FileStamp> FileHandle::Stamp() const {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!IsOpen() || !::GetFileInformationByHandle(NativeHandle(*this), &info)) return std::nullopt;
  const FILETIME& written = info.ftLastWriteTime;
  return FileStamp{{info.dwVolumeSerialNumber,
                    uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow},
                   uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow,
                   static_cast<int64_t>(uint64_t{written.dwHighDateTime} << 32 |
                                        written.dwLowDateTime)};
}

FileHandle FileHandle::Duplicate() const {
  FileHandle copy;
  HANDLE duplicate = INVALID_HANDLE_VALUE;
  const HANDLE self = ::GetCurrentProcess();
  if (!IsOpen() || !::DuplicateHandle(self, NativeHandle(*this), self, &duplicate, 0, FALSE,
                                      DUPLICATE_SAME_ACCESS)) {
    copy.lastError_ = IsOpen() ? ::GetLastError() : uint32_t{kErrorInvalidParameter};
    return copy;
  }
  copy.handle_ = reinterpret_cast<intptr_t>(duplicate);
  return copy;
}

// The handle was opened with the right to delete (CreateAlways, OpenOwn):
// the file goes when the handle closes, whatever name it has by then.
bool FileHandle::Remove(const std::string& /*path*/) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  const bool removed = IsOpen() && ::SetFileInformationByHandle(NativeHandle(*this),
                                                                FileDispositionInfo, &disposition,
                                                                sizeof disposition);
  Close();
  return removed;
}

}  // namespace platform
