#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/file_system.h"

namespace platform {

void DeleteFileQuietly(const std::string& path) { ::unlink(path.c_str()); }

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool CopyPermissions(const FileHandle& source, FileHandle& target) {
  struct stat st {};
  if (::fstat(static_cast<int>(source.Native()), &st) != 0) return false;
  return ::fchmod(static_cast<int>(target.Native()), (st.st_mode & 07777) | S_IWUSR) == 0;
}

void Beep(unsigned /*frequencyHz*/, unsigned /*durationMs*/) {
  if (::isatty(STDERR_FILENO)) {
    std::fputc('\a', stderr);
    std::fflush(stderr);
  }
}

}  // namespace platform
