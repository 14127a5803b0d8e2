#pragma once
// A file handle with the access, sharing and creation rules of the system the
// tool was designed for, and 64-bit positions.
//
// On Windows these are the system's own rules. On POSIX systems sharing is
// emulated with flock(): a handle that reads and lets others read takes a
// shared lock, every other handle an exclusive one, so a file held without
// sharing cannot be opened a second time, from this process or another. A
// file with no write permission bit refuses to open for writing, as a
// read-only file does, even for root. Only regular files open.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

enum class Access { Read, Write, ReadWrite };
enum class Share { None, Read };
enum class Disposition {
  OpenExisting,
  // A new, empty file takes the name: an existing entry is removed by name
  // first (a link is replaced, never followed; a file's data is never
  // truncated in place), unless it is a read-only file, a file another handle
  // holds, or not a file at all. The new file is created exclusively.
  CreateAlways,
  // An existing file this build created, opened again so that it can be cut
  // back or removed (Remove); otherwise as OpenExisting. The caller proves by
  // Identity() that it is still that file.
  OpenOwn,
};

// Error numbers in the style of the platform the tool was designed for.
enum ErrorCode : uint32_t {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorSharingViolation = 32,
  kErrorHandleDiskFull = 39,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorBadExeFormat = 193,
};

// What makes two open files the same file (device and file number, or volume
// serial number and file index).
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// What tells a file from another one and from itself at another moment: its
// identity, size and time of last modification (in the system's own units).
struct FileStamp {
  FileIdentity identity;
  uint64_t size = 0;
  int64_t modified = 0;
  bool operator==(const FileStamp&) const = default;
};

// The size in which large transfers are written. Under Linux 6.18 ext4 takes
// a write of n bytes into new page-cache folios of up to n bytes. On our build
// VM, filling new folios is at times much slower, and more often so the
// larger they are: 1 GiB builds after a 3 s pause took 0.72-0.87 s with 1 MiB
// writes, 0.51-0.56 s with 512 KiB and 0.59-0.66 s with 256 KiB, whose extra
// system calls cost more than they save.
inline constexpr std::size_t kLargeWrite = std::size_t{512} << 10;

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Opens path; on failure returns false and leaves the handle closed, with
  // LastError() telling why.
  bool Open(const std::string& path, Access access, Share share, Disposition disposition);
  void Close();
  bool IsOpen() const { return handle_ != kInvalid; }
  uint32_t LastError() const { return lastError_; }

  // Reads up to count bytes at an absolute position, retrying short reads
  // until count or the end of the file. Returns the number delivered (0 at
  // the end), or nullopt on error. The current position is unspecified
  // afterwards.
  std::optional<std::size_t> ReadAt(uint64_t position, void* buffer, std::size_t count);
  // The same without recording an error in the handle, so that several
  // threads may read through one handle at once; *error (when given) tells
  // why a read failed.
  std::optional<std::size_t> ReadShared(uint64_t position, void* buffer, std::size_t count,
                                        uint32_t* error = nullptr) const;
  // Writes all count bytes at the current position; false on any failure.
  bool Write(const void* buffer, std::size_t count);
  // The same at an absolute position; the current position is unspecified
  // afterwards.
  bool WriteAt(uint64_t position, const void* buffer, std::size_t count);
  std::optional<uint64_t> Size() const;
  // Cuts or extends the file to size bytes; the position is unspecified afterwards.
  bool Truncate(uint64_t size);
  std::optional<FileIdentity> Identity() const;
  std::optional<FileStamp> Stamp() const;
  // Removes the file this handle holds, which it opened as path, and closes
  // the handle. Never anything else: POSIX removes the name, in the folder the
  // file was opened in, only while it still names this file (a file or link
  // put there since stays); Windows marks the held file itself for deletion.
  // False, closed all the same, when nothing was removed.
  bool Remove(const std::string& path);
  // A second handle on the same open file, with the same access and sharing
  // (and, on POSIX, the same lock): what is read through it is this file,
  // whatever its name names by then. Closed on failure, LastError() telling
  // why. Never one of the standard descriptors 0-2.
  FileHandle Duplicate() const;

  // The descriptor or handle, for the platform layer's own use.
  intptr_t Native() const { return handle_; }

 private:
  // Whether a transfer of count bytes that did done of them wrote them all; a
  // write that stopped short without an error (no room, say) still failed.
  bool AllWritten(std::size_t count, std::optional<std::size_t> done);

  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;
  // POSIX: the folder a file created (CreateAlways) or opened again (OpenOwn)
  // stands in, held until the handle closes.
  intptr_t folder_ = kInvalid;
  uint32_t lastError_ = kErrorSuccess;
};

}  // namespace platform
