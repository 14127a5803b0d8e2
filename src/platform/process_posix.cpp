#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "platform/process.h"

namespace platform {

namespace {

// A closed standard descriptor would go to the first file the tool opens,
// and its lines with it: each one that is closed is held by the null device.
// open() takes the lowest free number, so closed ones fill up in order.
bool HoldStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY) != fd) return false;
  }
  return true;
}

}  // namespace

bool PrepareProcess() {
  if (!HoldStandardDescriptors()) return false;
  std::signal(SIGPIPE, SIG_IGN);
  // Past the file-size limit a write fails (EFBIG) as on a full disk, and the
  // build is undone, instead of the process being killed half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  // A build opens its archive three times (definition, rewrite, verification)
  // and allocates the same large member table and buffers each time. Kept in
  // the heap rather than mapped and unmapped, the later opens reuse pages that
  // are already faulted in instead of faulting in fresh ones.
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
  return true;
}

}  // namespace platform
