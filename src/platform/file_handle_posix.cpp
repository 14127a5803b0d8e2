#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file_handle.h"
#include "platform/folder_entry_posix.h"
#include "platform/posix_error.h"

namespace platform {

namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

// A file whose permission bits allow nobody to write is read-only for every
// caller, root included.
bool IsReadOnlyFile(const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Takes the lock that stands for the sharing mode; a conflict is a sharing
// violation.
bool Lock(int fd, bool shared, uint32_t* error) {
  if (::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0) return true;
  *error = errno == EWOULDBLOCK ? kErrorSharingViolation : ErrorFromErrno(errno);
  return false;
}

// Whether the file open at fd may be replaced: one that may be written and that
// no other handle holds, which the lock taken here keeps so until fd closes.
// st becomes what fd has open.
bool MayReplace(int fd, struct stat* st, uint32_t* error) {
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || IsReadOnlyFile(*st)) {
    *error = kErrorAccessDenied;
    return false;
  }
  return Lock(fd, false, error);
}

// Makes room for a new file at name. A symbolic link or a second name of a
// file goes by its name alone; a file is removed only when it may be written
// and no handle holds it. What is removed is the entry looked at, never one
// put in its place meanwhile.
bool RemoveForReplacement(const FolderEntry& at, uint32_t* error) {
  struct stat st {};
  if (::fstatat(at.folder, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    *error = ErrorFromErrno(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    *error = kErrorAccessDenied;  // a directory, device or pipe is not ours to remove
    return false;
  }
  int fd = -1;
  if (S_ISREG(st.st_mode)) {
    if (IsReadOnlyFile(st)) {
      *error = kErrorAccessDenied;
      return false;
    }
    fd = ::openat(at.folder, at.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && !MayReplace(fd, &st, error)) {
      ::close(fd);
      return false;
    }
  }
  const Unlinked result = UnlinkIfSame(at.folder, at.name, st, error);
  if (fd >= 0) ::close(fd);
  return result != Unlinked::Other;
}

int OpenFlags(Access access) {
  const int mode = access == Access::Read ? O_RDONLY : access == Access::Write ? O_WRONLY : O_RDWR;
  return O_CLOEXEC | mode;
}

// Opens an existing regular file, name in folder (AT_FDCWD for a path),
// without following it into a pipe or device; with own set, not through a
// symbolic link either.
int OpenExisting(int folder, const char* name, Access access, bool own, uint32_t* error) {
  struct stat st {};
  if (::fstatat(folder, name, &st, own ? AT_SYMLINK_NOFOLLOW : 0) == 0 &&
      (S_ISDIR(st.st_mode) || (access != Access::Read && IsReadOnlyFile(st)))) {
    *error = kErrorAccessDenied;
    return -1;
  }
  // Non-blocking only for the open itself: a FIFO must not stall it.
  const int fd = ::openat(folder, name, OpenFlags(access) | O_NONBLOCK | (own ? O_NOFOLLOW : 0));
  if (fd < 0) {
    *error = ErrorFromErrno(errno);
    return -1;
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    *error = kErrorAccessDenied;
    ::close(fd);
    return -1;
  }
  return fd;
}

// A hard or symbolic link planted between the removal and the create makes
// the create fail: O_EXCL takes no existing entry of any kind.
int CreateNew(const FolderEntry& at, Access access, uint32_t* error) {
  if (!RemoveForReplacement(at, error)) return -1;
  const int fd = ::openat(at.folder, at.name.c_str(),
                          OpenFlags(access) | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
  if (fd < 0) *error = errno == EEXIST ? kErrorFileExists : ErrorFromErrno(errno);
  return fd;
}

// Repeats a read or write call until count bytes are done, the file ends or
// the call fails; the number of bytes done, or nullopt with *error.
template <class Call>
std::optional<std::size_t> TransferAll(std::size_t count, uint32_t* error, Call call) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = call(done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = ErrorFromErrno(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool FitsOffset(uint64_t position, std::size_t count, uint32_t* error) {
  if (position <= static_cast<uint64_t>(INT64_MAX) - count) return true;
  *error = kErrorInvalidParameter;
  return false;
}

}  // namespace

bool FileHandle::Open(const std::string& path, Access access, Share share,
                      Disposition disposition) {
  Close();
  lastError_ = kErrorSuccess;
  // The tool's own files are created, opened again and removed in the folder
  // they were first found in, which the handle holds.
  FolderEntry at;
  if (disposition != Disposition::OpenExisting && !OpenFolderEntry(path, &at, &lastError_)) {
    return false;
  }
  const int fd = disposition == Disposition::CreateAlways ? CreateNew(at, access, &lastError_)
                 : disposition == Disposition::OpenOwn
                     ? OpenExisting(at.folder, at.name.c_str(), access, true, &lastError_)
                     : OpenExisting(AT_FDCWD, path.c_str(), access, false, &lastError_);
  if (fd < 0 || !Lock(fd, access == Access::Read && share == Share::Read, &lastError_)) {
    if (fd >= 0) ::close(fd);
    if (at.folder >= 0) ::close(at.folder);
    return false;
  }
  handle_ = fd;
  folder_ = at.folder;
  return true;
}

void FileHandle::Close() {
  if (IsOpen()) {
    ::close(Fd(handle_));  // releases the flock as well
    handle_ = kInvalid;
  }
  if (folder_ != kInvalid) {
    ::close(Fd(folder_));
    folder_ = kInvalid;
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
  if (!FitsOffset(position, count, error)) return std::nullopt;
  auto* out = static_cast<unsigned char*>(buffer);
  return TransferAll(count, error, [&](std::size_t done) {
    return ::pread(Fd(handle_), out + done, count - done, static_cast<off_t>(position + done));
  });
}

bool FileHandle::Write(const void* buffer, std::size_t count) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  return AllWritten(count, TransferAll(count, &lastError_, [&](std::size_t done) {
    return ::write(Fd(handle_), in + done, count - done);
  }));
}

bool FileHandle::WriteAt(uint64_t position, const void* buffer, std::size_t count) {
  if (!FitsOffset(position, count, &lastError_)) return false;
  const auto* in = static_cast<const unsigned char*>(buffer);
  return AllWritten(count, TransferAll(count, &lastError_, [&](std::size_t done) {
    return ::pwrite(Fd(handle_), in + done, count - done, static_cast<off_t>(position + done));
  }));
}

std::optional<uint64_t> FileHandle::Size() const {
  struct stat st {};
  if (!IsOpen() || ::fstat(Fd(handle_), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

bool FileHandle::Truncate(uint64_t size) {
  if (!FitsOffset(size, 0, &lastError_)) return false;
  if (::ftruncate(Fd(handle_), static_cast<off_t>(size)) == 0) return true;
  lastError_ = ErrorFromErrno(errno);
  return false;
}

std::optional<FileIdentity> FileHandle::Identity() const {
  const auto stamp = Stamp();
  if (!stamp) return std::nullopt;
  return stamp->identity;
}

std::optional<FileStamp> FileHandle::Stamp() const {
  struct stat st {};
  if (!IsOpen() || ::fstat(Fd(handle_), &st) != 0) return std::nullopt;
  return FileStamp{{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)},
                   static_cast<uint64_t>(st.st_size),
                   int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
}

FileHandle FileHandle::Duplicate() const {
  FileHandle copy;
  const int fd = IsOpen() ? ::fcntl(Fd(handle_), F_DUPFD_CLOEXEC, 3) : -1;
  if (fd < 0) {
    copy.lastError_ = IsOpen() ? ErrorFromErrno(errno) : kErrorInvalidParameter;
    return copy;
  }
  copy.handle_ = fd;
  return copy;
}

// Removed in the folder the handle holds, only while the name there is still
// this file's: see UnlinkIfSame for the instant POSIX leaves open.
bool FileHandle::Remove(const std::string& path) {
  struct stat held {};
  FolderEntry at{Fd(folder_), path.substr(path.find_last_of('/') + 1)};
  const bool folderOpened = at.folder < 0 && OpenFolderEntry(path, &at, &lastError_);
  const bool removed = IsOpen() && at.folder >= 0 && ::fstat(Fd(handle_), &held) == 0 &&
                       UnlinkIfSame(at.folder, at.name, held, &lastError_) == Unlinked::Removed;
  if (folderOpened) ::close(at.folder);
  Close();
  return removed;
}

}  // namespace platform
