#include "file_handle.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace platform {

uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kErrorAccessDenied;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EWOULDBLOCK: return kErrorSharingViolation;
    case ENOSPC: return kErrorDiskFull;
    case EFBIG: return kErrorHandleDiskFull;
    case EINVAL: return kErrorInvalidParameter;
    default: return kErrorAccessDenied;
  }
}

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), lastError_(other.lastError_) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    lastError_ = other.lastError_;
  }
  return *this;
}

namespace {

bool WantsWrite(Access access) { return access != Access::Read; }

// A file whose permission bits allow nobody to write is read-only for every
// caller, root included.
bool IsReadOnlyFile(const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

bool FileHandle::Open(const std::string& path, Access access, Share share,
                      Disposition disposition) {
  Close();
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    lastError_ = kErrorAccessDenied;
    return false;
  }
  if (exists && (WantsWrite(access) || disposition == Disposition::CreateAlways) &&
      IsReadOnlyFile(st)) {
    lastError_ = kErrorAccessDenied;
    return false;
  }
  // Non-blocking only for the open itself: a FIFO must not stall it.
  int flags = O_CLOEXEC | O_NONBLOCK;
  flags |= access == Access::Read ? O_RDONLY : access == Access::Write ? O_WRONLY : O_RDWR;
  if (disposition == Disposition::CreateAlways) flags |= O_CREAT;
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    lastError_ = ErrorFromErrno(errno);
    return false;
  }
  // Only regular files: a pipe or a device has no size, no positions and may
  // never end.
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    lastError_ = kErrorAccessDenied;
    ::close(fd);
    return false;
  }
  const bool shared = access == Access::Read && share == Share::Read;
  if (::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    lastError_ = errno == EWOULDBLOCK ? kErrorSharingViolation : ErrorFromErrno(errno);
    ::close(fd);
    return false;
  }
  // Truncate only once the lock is ours, so a file held by another handle is
  // never emptied behind its back.
  if (disposition == Disposition::CreateAlways && ::ftruncate(fd, 0) != 0) {
    lastError_ = ErrorFromErrno(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  lastError_ = kErrorSuccess;
  return true;
}

void FileHandle::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // releases the flock as well
    fd_ = -1;
  }
}

std::optional<std::size_t> FileHandle::Read(void* buffer, std::size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd_, out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError_ = ErrorFromErrno(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool FileHandle::Write(const void* buffer, std::size_t count) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, in + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError_ = ErrorFromErrno(errno);
      return false;
    }
    if (n == 0) {
      lastError_ = kErrorWriteFault;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<uint64_t> FileHandle::Seek(uint64_t position) {
  if (position > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  const off_t r = ::lseek(fd_, static_cast<off_t>(position), SEEK_SET);
  if (r < 0) {
    lastError_ = ErrorFromErrno(errno);
    return std::nullopt;
  }
  return static_cast<uint64_t>(r);
}

std::optional<uint64_t> FileHandle::SeekToEnd() {
  const off_t r = ::lseek(fd_, 0, SEEK_END);
  if (r < 0) {
    lastError_ = ErrorFromErrno(errno);
    return std::nullopt;
  }
  return static_cast<uint64_t>(r);
}

std::optional<uint64_t> FileHandle::Position() const {
  const off_t r = ::lseek(fd_, 0, SEEK_CUR);
  if (r < 0) return std::nullopt;
  return static_cast<uint64_t>(r);
}

std::optional<uint64_t> FileHandle::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

}  // namespace platform
