#include "zip/output_buffer.h"

#include <algorithm>
#include <cstring>

namespace trvzip {

OutputBuffer::OutputBuffer(platform::FileHandle& file, std::size_t capacity)
    : file_(file), buffer_(capacity) {}

bool OutputBuffer::Flush() {
  if (!failed_ && used_ > 0 && !file_.Write(buffer_.data(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool OutputBuffer::Put(const void* bytes, std::size_t count) {
  if (count > buffer_.size() - used_ && !Flush()) return false;
  if (count > buffer_.size()) {
    failed_ = failed_ || !file_.Write(bytes, count);
    return !failed_;
  }
  if (count > 0) std::memcpy(buffer_.data() + used_, bytes, count);
  used_ += count;
  return !failed_;
}

uint8_t* OutputBuffer::Reserve(std::size_t* available) {
  if (used_ == buffer_.size() && !Flush()) return nullptr;
  if (failed_) return nullptr;
  *available = buffer_.size() - used_;
  return buffer_.data() + used_;
}

bool CopyFileRange(platform::FileHandle& from, OutputBuffer& to, uint64_t count) {
  while (count > 0) {
    std::size_t available = 0;
    uint8_t* space = to.Reserve(&available);
    if (space == nullptr) return false;
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(available, count));
    const auto got = from.Read(space, want);
    if (!got || *got != want) return false;
    to.Commit(want);
    count -= want;
  }
  return true;
}

}  // namespace trvzip
