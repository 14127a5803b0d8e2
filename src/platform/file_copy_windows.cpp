#include "platform/file_copy.h"

namespace platform {

// Windows has no copy between open handles inside the kernel.
CopyResult CopyRange(FileHandle& from, uint64_t fromOffset, FileHandle& to, uint64_t toOffset,
                     uint64_t count) {
  return CopyRangeThroughBuffer(from, fromOffset, to, toOffset, count);
}

}  // namespace platform
