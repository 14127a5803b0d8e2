#include <algorithm>
#include <memory>

#include "platform/file_copy.h"
#include "platform/interrupt.h"

namespace platform {

namespace {

// Large enough to keep the disk busy, small enough to notice an interruption
// promptly.
constexpr std::size_t kBufferChunk = std::size_t{1} << 20;

}  // namespace

// Windows has no copy between open handles inside the kernel: through a buffer.
CopyResult CopyFileData(FileHandle& from, FileHandle& to, uint64_t count) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBufferChunk]);
  while (count > 0) {
    if (Interrupted()) return CopyResult::Interrupted;
    const auto want = static_cast<std::size_t>(std::min<uint64_t>(count, kBufferChunk));
    const auto got = from.Read(buffer.get(), want);
    if (!got || *got != want) return CopyResult::ReadFailed;
    if (!to.Write(buffer.get(), want)) return CopyResult::WriteFailed;
    count -= want;
  }
  return CopyResult::Done;
}

}  // namespace platform
