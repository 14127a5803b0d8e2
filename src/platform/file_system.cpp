#include "file_system.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "file_handle.h"

namespace platform {

namespace {

bool CopyContents(FileHandle& in, FileHandle& out, uint64_t size) {
  uint64_t left = size;
  while (left > 0) {
    const ssize_t n = ::sendfile(out.Descriptor(), in.Descriptor(), nullptr,
                                 left > (1u << 30) ? (1u << 30) : static_cast<size_t>(left));
    if (n <= 0) return false;
    left -= static_cast<uint64_t>(n);
  }
  // The source may have grown while we copied; the copy is of what we measured.
  return true;
}

}  // namespace

bool CopyFileReplacing(const std::string& source, const std::string& target) {
  if (IsSameFile(source, target)) return false;
  FileHandle in;
  if (!in.Open(source, Access::Read, Share::Read, Disposition::OpenExisting)) return false;
  struct stat st {};
  if (::fstat(in.Descriptor(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  FileHandle out;
  if (!out.Open(target, Access::Write, Share::None, Disposition::CreateAlways)) return false;
  if (!CopyContents(in, out, static_cast<uint64_t>(st.st_size))) return false;
  ::fchmod(out.Descriptor(), (st.st_mode & 07777) | S_IWUSR);
  return true;
}

void DeleteFileQuietly(const std::string& path) { ::unlink(path.c_str()); }

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void Beep(unsigned /*frequencyHz*/, unsigned /*durationMs*/) {
  if (::isatty(STDERR_FILENO)) {
    std::fputc('\a', stderr);
    std::fflush(stderr);
  }
}

std::string_view FileNameComponent(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') path.remove_prefix(2);
  const auto slash = path.find_last_of("\\/");
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  const auto dot = path.find_last_of('.');
  if (dot != std::string_view::npos) path = path.substr(0, dot);
  return path;
}

}  // namespace platform
