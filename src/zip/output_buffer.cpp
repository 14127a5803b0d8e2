#include "zip/output_buffer.h"

#include <cstring>
#include <utility>

#include "platform/interrupt.h"

namespace trvzip {

OutputBuffer::OutputBuffer(platform::FileHandle& file, WriteObserver observer,
                           std::size_t capacity)
    : file_(file), observer_(std::move(observer)), buffer_(new uint8_t[capacity]),
      capacity_(capacity) {}

bool OutputBuffer::WriteOut(const uint8_t* bytes, std::size_t count) {
  if (failed_ || platform::Interrupted() || !file_.Write(bytes, count)) {
    failed_ = true;
    return false;
  }
  if (observer_) observer_(std::span<const uint8_t>(bytes, count));
  return true;
}

bool OutputBuffer::Flush() {
  const bool ok = used_ == 0 ? !failed_ : WriteOut(buffer_.get(), used_);
  used_ = 0;
  return ok;
}

bool OutputBuffer::Put(const void* bytes, std::size_t count) {
  if (count > capacity_ - used_ && !Flush()) return false;
  if (count > capacity_) return WriteOut(static_cast<const uint8_t*>(bytes), count);
  if (count > 0) std::memcpy(buffer_.get() + used_, bytes, count);
  used_ += count;
  return !failed_;
}

uint8_t* OutputBuffer::Reserve(std::size_t* available) {
  if (used_ == capacity_ && !Flush()) return nullptr;
  if (failed_) return nullptr;
  *available = capacity_ - used_;
  return buffer_.get() + used_;
}

}  // namespace trvzip
