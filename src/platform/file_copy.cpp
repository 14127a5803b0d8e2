#include "platform/file_copy.h"

#include <algorithm>
#include <memory>

#include "platform/interrupt.h"

namespace platform {

namespace {

// Copies count bytes at fromOffset to toOffset through buffer, telling which
// side failed.
CopyResult CopyRange(unsigned char* buffer, FileHandle& from, uint64_t fromOffset, FileHandle& to,
                     uint64_t toOffset, uint64_t count) {
  for (uint64_t done = 0; done < count;) {
    const auto want = static_cast<std::size_t>(std::min<uint64_t>(count - done, kLargeWrite));
    const auto got = from.ReadAt(fromOffset + done, buffer, want);
    if (!got || *got != want) return CopyResult::ReadFailed;
    if (!to.WriteAt(toOffset + done, buffer, want)) return CopyResult::WriteFailed;
    done += want;
  }
  return CopyResult::Done;
}

}  // namespace

CopyResult AppendConsuming(FileHandle& from, FileHandle& to, uint64_t piece) {
  const auto size = from.Size();
  const auto base = to.Size();
  if (!size) return CopyResult::ReadFailed;
  if (!base) return CopyResult::WriteFailed;
  // Left uninitialised: a small archive touches only the pages it fills.
  const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kLargeWrite]);
  for (uint64_t end = *size; end > 0;) {
    if (Interrupted()) return CopyResult::Interrupted;
    const uint64_t start = end > piece ? end - piece : 0;
    const CopyResult copied = CopyRange(buffer.get(), from, start, to, *base + start, end - start);
    if (copied != CopyResult::Done) return copied;
    // The copied tail is no longer needed: cutting it off frees it without
    // writing it anywhere.
    if (!from.Truncate(start)) return CopyResult::ReadFailed;
    end = start;
  }
  return CopyResult::Done;
}

}  // namespace platform
