#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/file_copy.h"
#include "platform/interrupt.h"

namespace platform {

namespace {

// Large enough to keep the kernel busy, small enough to notice an
// interruption promptly.
constexpr uint64_t kKernelChunk = uint64_t{64} << 20;
constexpr std::size_t kBufferChunk = std::size_t{1} << 20;

// Through a buffer: used where the kernel cannot copy, and to find out which
// side failed when it could not.
CopyResult CopyThroughBuffer(FileHandle& from, FileHandle& to, uint64_t count) {
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

}  // namespace

CopyResult CopyFileData(FileHandle& from, FileHandle& to, uint64_t count) {
  const int in = static_cast<int>(from.Native());
  const int out = static_cast<int>(to.Native());
  while (count > 0) {
    if (Interrupted()) return CopyResult::Interrupted;
    const auto chunk = static_cast<std::size_t>(std::min(count, kKernelChunk));
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    // Not supported here, or a failure: the buffered copy carries on from
    // where the kernel stopped and tells which side fails.
    if (n <= 0) return CopyThroughBuffer(from, to, count);
    count -= static_cast<uint64_t>(n);
  }
  return CopyResult::Done;
}

}  // namespace platform
