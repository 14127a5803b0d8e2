#include <unistd.h>

#include <cerrno>

#include "platform/file_copy.h"

namespace platform {

CopyResult CopyRange(FileHandle& from, uint64_t fromOffset, FileHandle& to, uint64_t toOffset,
                     uint64_t count) {
  auto in = static_cast<off_t>(fromOffset);
  auto out = static_cast<off_t>(toOffset);
  while (count > 0) {
    const ssize_t n = ::copy_file_range(static_cast<int>(from.Native()), &in,
                                        static_cast<int>(to.Native()), &out,
                                        static_cast<std::size_t>(count), 0);
    if (n < 0 && errno == EINTR) continue;
    // Not supported here, or a failure: the buffered copy carries on from
    // where the kernel stopped and tells which side fails.
    if (n <= 0) {
      return CopyRangeThroughBuffer(from, static_cast<uint64_t>(in), to,
                                    static_cast<uint64_t>(out), count);
    }
    count -= static_cast<uint64_t>(n);
  }
  return CopyResult::Done;
}

}  // namespace platform
