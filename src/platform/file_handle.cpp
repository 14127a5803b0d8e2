// What a file handle does the same way on every system.

#include "platform/file_handle.h"

#include <utility>

namespace platform {

FileHandle::~FileHandle() { Close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, kInvalid)),
      folder_(std::exchange(other.folder_, kInvalid)),
      lastError_(other.lastError_) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kInvalid);
    folder_ = std::exchange(other.folder_, kInvalid);
    lastError_ = other.lastError_;
  }
  return *this;
}

bool FileHandle::AllWritten(std::size_t count, std::optional<std::size_t> done) {
  if (done && *done != count) lastError_ = kErrorWriteFault;
  return done && *done == count;
}

}  // namespace platform
