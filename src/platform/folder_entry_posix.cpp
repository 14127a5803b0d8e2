#include "platform/folder_entry_posix.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/posix_error.h"

namespace platform {

namespace {

bool Same(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A folder of this process's own beside the entries it works on, for as long
// as it lives; empty again when it goes, or left (with what it holds) when
// something could not be moved back out of it.
class PrivateFolder {
 public:
  explicit PrivateFolder(int parent) : parent_(parent) {
    for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
      unsigned char random[6] = {};
      if (::getrandom(random, sizeof random, GRND_NONBLOCK) != sizeof random) {
        const auto now = static_cast<unsigned long>(std::time(nullptr));
        for (unsigned i = 0; i < sizeof random; ++i) {
          random[i] = static_cast<unsigned char>((now >> (8 * i)) ^ (::getpid() >> i) ^ attempt);
        }
      }
      char name[32];
      std::snprintf(name, sizeof name, ".zipgraft-%02x%02x%02x%02x%02x%02x", random[0],
                    random[1], random[2], random[3], random[4], random[5]);
      if (::mkdirat(parent, name, 0700) != 0) {
        if (errno == EEXIST) continue;
        return;
      }
      fd_ = ::openat(parent, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      name_ = name;
      if (fd_ < 0) Discard();
    }
  }
  ~PrivateFolder() {
    if (fd_ >= 0) ::close(fd_);
    Discard();
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  int Fd() const { return fd_; }

 private:
  void Discard() {
    if (!name_.empty()) ::unlinkat(parent_, name_.c_str(), AT_REMOVEDIR);
    name_.clear();
  }

  int parent_;
  int fd_ = -1;
  std::string name_;
};

constexpr char kAside[] = "entry";

// Moves the entry taken aside back to name, unless something has taken the
// name again: then it stays in the private folder, whole.
bool PutBack(int aside, int folder, const std::string& name) {
  if (::renameat2(aside, kAside, folder, name.c_str(), RENAME_NOREPLACE) == 0) return true;
  // A file system without the flag: a new link fails where the name is taken.
  if (errno != EINVAL && errno != ENOSYS) return false;
  return ::linkat(aside, kAside, folder, name.c_str(), 0) == 0 &&
         ::unlinkat(aside, kAside, 0) == 0;
}

// Where no private folder can be made (a full disk, say): the look and the
// unlink by name, with the window between them.
Unlinked UnlinkByName(int folder, const std::string& name, const struct stat& like,
                      uint32_t* error) {
  struct stat now {};
  if (::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !Same(now, like)) {
    *error = kErrorAccessDenied;
    return Unlinked::Other;
  }
  if (::unlinkat(folder, name.c_str(), 0) == 0) return Unlinked::Removed;
  if (errno == ENOENT) return Unlinked::Gone;
  *error = ErrorFromErrno(errno);
  return Unlinked::Other;
}

}  // namespace

bool OpenFolderEntry(const std::string& path, FolderEntry* entry, uint32_t* error) {
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/"
                                                                           : path.substr(0, slash);
  entry->name = slash == std::string::npos ? path : path.substr(slash + 1);
  entry->folder = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (entry->folder >= 0) return true;
  *error = errno == ENOENT ? kErrorPathNotFound : ErrorFromErrno(errno);
  return false;
}

Unlinked UnlinkIfSame(int folder, const std::string& name, const struct stat& like,
                      uint32_t* error) {
  // What has had another entry at the name for a while is not touched at all.
  struct stat now {};
  if (::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return Unlinked::Gone;
    *error = ErrorFromErrno(errno);
    return Unlinked::Other;
  }
  if (!Same(now, like)) {
    *error = kErrorAccessDenied;
    return Unlinked::Other;
  }
  const PrivateFolder aside(folder);
  if (aside.Fd() < 0) return UnlinkByName(folder, name, like, error);
  if (::renameat(folder, name.c_str(), aside.Fd(), kAside) != 0) {
    if (errno == ENOENT) return Unlinked::Gone;
    *error = ErrorFromErrno(errno);
    return Unlinked::Other;
  }
  if (::fstatat(aside.Fd(), kAside, &now, AT_SYMLINK_NOFOLLOW) == 0 && Same(now, like) &&
      ::unlinkat(aside.Fd(), kAside, 0) == 0) {
    return Unlinked::Removed;
  }
  // Another entry took the name between the first look and the move.
  PutBack(aside.Fd(), folder, name);
  *error = kErrorAccessDenied;
  return Unlinked::Other;
}

}  // namespace platform
