#pragma once
// A file handle with the access, sharing and creation rules of the system the
// tool was designed for, on POSIX descriptors with 64-bit positions.
//
// Sharing is emulated with flock(): a handle that reads and lets others read
// takes a shared lock, every other handle an exclusive one, so a file held
// without sharing cannot be opened a second time, from this process or another.
// A file with no write permission bit refuses to open for writing, as a
// read-only file does, even for root.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

enum class Access { Read, Write, ReadWrite };
enum class Share { None, Read };
enum class Disposition { OpenExisting, CreateAlways };

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
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorBadExeFormat = 193,
};

// Maps an errno value to one of the codes above.
uint32_t ErrorFromErrno(int err);

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
  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  uint32_t LastError() const { return lastError_; }

  // Reads up to count bytes, retrying short reads until count or the end of
  // the file. Returns the number delivered (0 at the end), or nullopt on error.
  std::optional<std::size_t> Read(void* buffer, std::size_t count);
  // Writes all count bytes; false on any failure or short write.
  bool Write(const void* buffer, std::size_t count);
  // Moves to an absolute position; returns the new position or nullopt.
  std::optional<uint64_t> Seek(uint64_t position);
  std::optional<uint64_t> SeekToEnd();
  std::optional<uint64_t> Position() const;
  std::optional<uint64_t> Size() const;

 private:
  int fd_ = -1;
  uint32_t lastError_ = kErrorSuccess;
};

}  // namespace platform
